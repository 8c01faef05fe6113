#!/usr/bin/env bash
# Runs one test command on an X server of its own.  ctest runs tests in parallel and window tests
# move the pointer, take the focus and read the screen: on a shared display they disturb each
# other.  Xvfb picks a free display number itself (-displayfd), so parallel starts never collide.
# VANTRELO_TEST_SCREEN gives the screen's size and depth (1600x1200x24 unless set); a test that
# needs a screen of another size runs its checks in a child through this script, which it finds in
# VANTRELO_WITH_DISPLAY.
set -u
export VANTRELO_WITH_DISPLAY
VANTRELO_WITH_DISPLAY=$(readlink -f "$0")
if ! command -v Xvfb >/dev/null 2>&1; then
  exec "$@"
fi
fifo_dir=$(mktemp -d)
trap 'rm -rf "$fifo_dir"' EXIT
mkfifo "$fifo_dir/fd"
Xvfb -displayfd 3 -screen 0 "${VANTRELO_TEST_SCREEN:-1600x1200x24}" -nolisten tcp -noreset 3>"$fifo_dir/fd" 2>/dev/null &
server=$!
number=""
read -r -t 20 number <"$fifo_dir/fd" || true
if [[ -z "$number" ]]; then
  kill "$server" 2>/dev/null
  echo "with_display: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$number"
"$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit $status
