#!/usr/bin/env bash
# Installs, builds (Release) and starts the program with the given images.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# The program is a desktop window: without a display there is nothing to show it on, so say so at
# once instead of building for nothing or waiting on a display that does not answer.
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run: no display available: set DISPLAY (or WAYLAND_DISPLAY) to start the program" >&2
  exit 1
fi
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DVANTRELO_TESTS=OFF \
      -DVANTRELO_BENCH=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)"
# An X display that is named but does not answer (a closed session, an unreachable host) would
# otherwise leave the program waiting on its connection.
if [[ -n "${DISPLAY:-}" ]] && ! timeout 10 xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "run: no display available: the display '$DISPLAY' does not answer" >&2
  exit 1
fi
exec "$root/build/release/app/vantrelo" "$@"
