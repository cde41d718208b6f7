#!/usr/bin/env bash
# Launch to pixels of a 24 MP JPEG: Glanto against feh, alternating runs on the
# same X server (run it under xvfb-run with a 2560x1600 screen).
#   Glanto: its benchmark build's own figure, from the exec of the process (the
#           wall clock handed over in GLANTO_LAUNCH_NS) to the frame that shows
#           the photo, with the menu bar in place.
#   feh:    from its exec to its window being mapped; feh decodes and draws the
#           photo before it maps the window.
# Usage: bench/launch_vs_feh.sh BUILD_DIR PHOTO_FOLDER [RUNS=7]
set -euo pipefail
build="$1"
folder="$2"
runs="${3:-7}"
photo="$(ls "$folder"/*.jpg | head -n 1)"
command -v feh >/dev/null || { echo "feh is not installed (apt-get install feh)" >&2; exit 1; }

glanto_ms=()
feh_ms=()
for run in $(seq "$runs"); do
  line="$(GLANTO_BENCH_LAUNCH_ONLY=1 GLANTO_LAUNCH_NS="$(date +%s%N)" \
    "$build/bench/glanto_viewer_bench" --bench "$folder" 2>/dev/null | grep launch_to_pixels_ms || true)"
  glanto_ms+=("$(awk '{print $3}' <<<"$line")")

  start="$(date +%s%N)"
  feh --geometry 1280x860 --scale-down "$photo" &
  feh_pid=$!
  until xdotool search --onlyvisible --pid "$feh_pid" >/dev/null 2>&1; do :; done
  end="$(date +%s%N)"
  kill "$feh_pid"; wait "$feh_pid" 2>/dev/null || true
  feh_ms+=("$(( (end - start) / 1000000 ))")
  echo "run $run: glanto ${glanto_ms[-1]} ms, feh ${feh_ms[-1]} ms"
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
g="$(median "${glanto_ms[@]}")"
f="$(median "${feh_ms[@]}")"
echo "median: glanto $g ms, feh $f ms, ratio $(awk -v g="$g" -v f="$f" 'BEGIN {printf "%.2f", g / f}')x (goal <= 0.8x)"
