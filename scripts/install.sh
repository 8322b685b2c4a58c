#!/usr/bin/env bash
# Installs every Debian package listed in scripts/packages.txt and
# scripts/packages.d/*.txt that is not installed yet.
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
