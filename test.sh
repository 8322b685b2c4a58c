#!/usr/bin/env bash
# Installs what is missing, builds, starts the services the tests need and
# runs every test.
#   ./test.sh               normal build, whole suite; and clang's check of
#                           the lock annotations (build-clang-tsa, no tests)
#   ./test.sh --asan        the suite under AddressSanitizer and UBSan
#   ./test.sh --tsan        the suite under ThreadSanitizer
#   ./test.sh --fuzz SECS   build the libFuzzer targets and run each for SECS
#   extra arguments after -- go to ctest (e.g. ./test.sh -- -R Bencode)
#   QF_JOBS=N sets the number of parallel build and test jobs (default: all cores)
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

mode=normal
fuzz_secs=0
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --asan) mode=asan ;;
    --tsan) mode=tsan ;;
    --fuzz) mode=fuzz; fuzz_secs=${2:?--fuzz takes a number of seconds}; shift ;;
    --) shift; ctest_args=("$@"); break ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift
done

scripts/install.sh

jobs=${QF_JOBS:-$(nproc)}
case $mode in
  normal) build=build;      flags=() ;;
  asan)   build=build-asan; flags=(-DQF_ASAN=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan)   build=build-tsan; flags=(-DQF_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  fuzz)   build=build-fuzz; flags=(-DQF_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
esac
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

if [ $mode = normal ]; then
  # The lock annotations of the engine's libraries (qf_engine builds the
  # others too; the lower ones with locks are named all the same) and the DHT
  # node, checked by clang's thread-safety analysis: a compile of those
  # libraries only, no tests.
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B build-clang-tsa -G Ninja -DQF_THREAD_SAFETY_CHECK=ON -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
  cmake --build build-clang-tsa -j "$jobs" --target qf_engine_net qf_engine_storage qf_engine qf_dht
fi

if [ $mode = fuzz ]; then
  mkdir -p "$build/corpus"
  status=0
  for target in "$build"/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    [ -d "tests/fuzz/seeds/$name" ] && cp -n tests/fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null || true
    echo "== $name for ${fuzz_secs}s"
    "$target" -max_total_time="$fuzz_secs" -max_len=65536 -print_final_stats=1 "$corpus" || status=1
  done
  exit $status
fi

# Services (database, trackers, ...) that tests need: every
# scripts/services.d/*.sh is run with "start" and appends exports to
# $QF_SERVICE_ENV; all are stopped again on exit.
export QF_SERVICE_DIR="$root/$build/services"
export QF_SERVICE_ENV="$QF_SERVICE_DIR/env.sh"
rm -rf "$QF_SERVICE_DIR"; mkdir -p "$QF_SERVICE_DIR"; : > "$QF_SERVICE_ENV"
stop_services() {
  for svc in "$root"/scripts/services.d/*.sh; do
    [ -f "$svc" ] && bash "$svc" stop || true
  done
}
trap stop_services EXIT
# A service that does not start fails the run: its tests would fail anyway.
for svc in scripts/services.d/*.sh; do
  [ -f "$svc" ] || continue
  bash "$svc" start || { echo "error: $(basename "$svc") did not start" >&2; exit 1; }
done
# shellcheck disable=SC1090
. "$QF_SERVICE_ENV"

case $mode in
  asan) export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
         LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" ;;
  tsan) export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp" ;;
esac
cd "$build"
# A test that lacks a program or service fails; only this machine's own
# limits (no SHA instructions, too few file descriptors, no network
# namespaces, ...) may skip a test. The skipped ones are listed at the end.
status=0
ctest -j "$jobs" --output-on-failure --timeout 600 "${ctest_args[@]}" 2>&1 | tee ctest.log || status=$?
if grep -q '(Skipped)$' ctest.log; then
  echo
  echo "Skipped here (this machine's limits):"
  grep '(Skipped)$' ctest.log | sed 's/^[[:space:]]*[0-9]* - /  /; s/ (Skipped)$//'
  # ctest's own closing line stays the last one.
  grep -E '^[0-9]+% tests passed' ctest.log | tail -1
fi
exit $status
