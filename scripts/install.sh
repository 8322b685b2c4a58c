#!/usr/bin/env bash
# Installs every Debian package listed in scripts/packages.txt and
# scripts/packages.d/*.txt that is not installed yet, then makes the
# locales the tests switch to (from the "locales" package) where missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
missing=()
for pkg in $(cat "$here/packages.txt" "$here"/packages.d/*.txt 2>/dev/null | sed 's/#.*//' | tr -s ' \t' '\n' | sort -u); do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Locales the tests use: German has a decimal comma.
locales_wanted=(de_DE.UTF-8)
for loc in "${locales_wanted[@]}"; do
  # "locale -a" lists de_DE.utf8 for de_DE.UTF-8.
  want=$(echo "$loc" | tr "A-Z" "a-z" | sed "s/utf-8$/utf8/")
  locale -a 2>/dev/null | tr 'A-Z' 'a-z' | grep -qx "$want" && continue
  echo "making the locale $loc"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  if ! grep -qx "$loc UTF-8" /etc/locale.gen 2>/dev/null; then
    echo "$loc UTF-8" | $sudo_cmd tee -a /etc/locale.gen >/dev/null
  fi
  $sudo_cmd locale-gen >/dev/null
done
