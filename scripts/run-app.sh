#!/usr/bin/env bash
# Starts the desktop application. With a display: on it. Without one: on a private Xvfb, on the
# demo script with its data and config folders under build/run/, saves a screenshot of the
# window to build/run/tapforge.png and exits; fails loudly when no window appeared.
set -euo pipefail
build=${1:-build/release}
app="$build/bin/tapforge"
cli="$build/bin/tapforge-cli"

if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  exec "$app"
fi

run=build/run
rm -rf "$run"
mkdir -p "$run/data" "$run/config"
export XDG_DATA_HOME="$PWD/$run/data" XDG_CONFIG_HOME="$PWD/$run/config"

exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 1280x800x24 -nolisten tcp -noreset >"$run/xvfb.log" 2>&1 &
xvfb=$!
app_pid=
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
read -r -t 20 -u "$fd" number || { echo "make run: Xvfb did not start (see $run/xvfb.log)" >&2; exit 1; }
export DISPLAY=":$number"

"$app" examples/demo.json >"$run/tapforge.log" 2>&1 &
app_pid=$!
if ! window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tapforge$' 2>/dev/null | head -1) || [[ -z "$window" ]]; then
  echo "make run: the tapforge window did not appear; its output:" >&2
  cat "$run/tapforge.log" >&2
  exit 1
fi
sleep 1.5   # let it finish painting
eval "$(xdotool getwindowgeometry --shell "$window")"
"$cli" screenshot "$run/tapforge.png" --rect "$X,$Y,$WIDTH,$HEIGHT"
kill -TERM "$app_pid"
status=0
wait "$app_pid" || status=$?
app_pid=
if [[ $status -ne 0 ]]; then
  echo "make run: tapforge exited with status $status; its output:" >&2
  cat "$run/tapforge.log" >&2
  exit 1
fi
echo "No display here: tapforge ran on a private Xvfb ($DISPLAY)."
echo "Screenshot of its window: $run/tapforge.png"
