#!/usr/bin/env bash
# Pictures of the console's dialogs as a person sees them, under Xvfb when there is no display:
# docs/dialog-*.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/normal" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build/normal" -j "$(nproc)" --target console_screenshots
program="$root/build/normal/tests/console_screenshots"
export QT_QPA_PLATFORM=xcb
if [ -n "${DISPLAY:-}" ]; then
  "$program" "$root/docs"
else
  xvfb-run -a -s "-screen 0 1280x1024x24" "$program" "$root/docs"
fi
