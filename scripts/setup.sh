#!/usr/bin/env bash
# Installs everything the build, the tests and the program need.  Idempotent and quiet when all is
# already there; runs apt-get update only when a package is missing.
set -euo pipefail

packages=(g++ cmake make pkg-config git
          libwxgtk3.2-dev libx11-dev libfreeimage-dev liblcms2-dev libagg-dev
          libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth
          openbox xdotool)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
