#!/usr/bin/env bash
# Screenshots of the window in the middle of a harvest, at 100% and 200% scale, and the event-loop
# latency figures of both runs. Each run is window_latency_bench on a private Xvfb display: it
# harvests picture articles from a private news server and grabs the screen about 40% of the way.
#
#   scripts/screenshot.sh [OUTDIR]     (default shots/)
#
# Builds nothing: window_latency_bench must already be built in build-ci, or in the directory
# named by BUILD_DIR. Writes OUTDIR/window-100.png, OUTDIR/window-200.png and OUTDIR/latency.txt.
# Needs root (the news server runs as the "news" user) and Xvfb.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${1:-shots}
BUILD=${BUILD_DIR:-$REPO/build-ci}
BENCH=$BUILD/window_latency_bench

die() {
  printf 'screenshot: %s\n' "$*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || die "must run as root: the private news server runs as the 'news' user"
[ -x "$BENCH" ] || die "no $BENCH: build the target window_latency_bench there first" \
  "(or name another build directory with BUILD_DIR)"
command -v Xvfb >/dev/null || die "Xvfb is missing (apt-get install xvfb)"
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

work=$(mktemp -d /tmp/qm-screenshot.XXXXXX)
xvfb_pid=""
stop_xvfb() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}
trap 'stop_xvfb; rm -rf "$work"' EXIT

# Starts Xvfb with a screen of SIZE (WxHxDEPTH) on a display it picks as free itself (-displayfd),
# and sets DISPLAY to it.
start_xvfb() {
  local size=$1 fifo=$work/displayfd
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp -noreset 3>"$fifo" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  local number=""
  # Xvfb writes the display number once it accepts clients; it closes the pipe if it fails.
  read -r -t 20 number <"$fifo" || true
  [ -n "$number" ] || {
    cat "$work/xvfb.log" >&2
    die "Xvfb did not start"
  }
  export DISPLAY=":$number"
}

# One harvest with a screenshot: SCALE (Qt's scale factor), SCREEN (Xvfb screen), PNG name.
run() {
  local scale=$1 screen=$2 png=$3
  start_xvfb "$screen"
  printf '== scale %s, screen %s, display %s\n' "$scale" "$screen" "$DISPLAY" | tee -a "$OUT/latency.txt"
  local status=0
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale QT_AUTO_SCREEN_SCALE_FACTOR=0 \
    "$BENCH" --screenshot "$OUT/$png" 2>"$work/bench.err" | tee -a "$OUT/latency.txt" || status=$?
  stop_xvfb
  printf '\n' >>"$OUT/latency.txt"
  if [ "$status" -ne 0 ]; then
    cat "$work/bench.err" >&2
    die "window_latency_bench failed at scale $scale (exit $status)"
  fi
}

: >"$OUT/latency.txt"
run 1 1600x1200x24 window-100.png
run 2 2600x2000x24 window-200.png
printf 'screenshot: wrote %s/window-100.png, window-200.png and latency.txt\n' "$OUT"
