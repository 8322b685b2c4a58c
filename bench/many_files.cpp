// What a torrent of many small files costs in memory, step by step: its
// metainfo read from the .torrent bytes, a copy of it, the torrent added to
// a session and checked, the copy a handle hands out, and what is left once
// the torrent is removed again.
//
//   many_files [files=100000]
//
// The files (about 1000 bytes each, in folders of 1000) are not on disk, so
// the check finds nothing. Heap figures are the allocator's bytes in use
// (mallinfo2), all threads, before and after each step.

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

#include "engine/formats/entry.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"
#include "engine/wire/fingerprint.h"
#include "tests/engine/storage/storage_test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

double heap_mib() {
  const struct mallinfo2 m = ::mallinfo2();
  return double(m.uordblks + m.hblkhd) / (1024 * 1024);
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  const fs::path save = fs::temp_directory_path() / ("qf_many_files_" + std::to_string(::getpid()));
  const std::string bytes = storage_test::many_files_torrent(files);
  ::malloc_trim(0);
  auto per_file = [&](double mib) { return mib * 1024 * 1024 / files; };
  auto report = [&](const char* step, double from) {
    const double now = heap_mib();
    std::printf("%-34s %8.1f MiB  %+8.1f MiB  %7.0f B/file\n", step, now, now - from, per_file(now - from));
    return now;
  };
  std::printf("%d files, .torrent of %.1f MiB (%.0f B/file)\n", files, double(bytes.size()) / (1024 * 1024),
              double(bytes.size()) / files);
  const double start = heap_mib();
  {
    engine::session ses(engine::fingerprint("QF", 0, 1, 0, 0));
    double at = report("session", start);
    const double base = at;
    {
      const engine::torrent_metainfo info(bytes.data(), bytes.size());
      at = report("metainfo read", at);
      {
        const engine::torrent_metainfo copy = info;
        report("a copy of it", at);
      }
      engine::torrent_handle h = ses.add_torrent(info, save);
      while (h.status().state == engine::queued_for_checking || h.status().state == engine::checking_files)
        std::this_thread::sleep_for(10ms);
      at = report("added and checked", at);
      {
        const engine::torrent_metainfo handed = h.metainfo();
        report("the handle's copy", at);
      }
      ses.remove_torrent(h);
      while (h.is_valid()) std::this_thread::sleep_for(10ms);
    }
    report("removed, metainfo gone", base);
  }
  report("session gone", start);
  fs::remove_all(save);
  return 0;
}
