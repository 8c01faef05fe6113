#!/usr/bin/env bash
# Installs, builds (Release) and starts the program with the given images.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DVANTRELO_TESTS=OFF \
      -DVANTRELO_BENCH=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)"
program="$root/build/release/app/vantrelo"
if [[ ! -x "$program" ]]; then
  echo "run: the program 'vantrelo' is not built yet: the engine and host libraries are built, the application is not."
  exit 1
fi
exec "$program" "$@"
