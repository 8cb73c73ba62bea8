#!/usr/bin/env bash
# Pictures of the composer, the delivery window, the about box, the font window and the recording window,
# rendered by a real X server (Xvfb) with the program's Chinese font, and of a voice mail's page as a
# recipient sees it, written to screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/default}
OUT=${OUT:-screenshots}
cmake --build "$BUILD_DIR" --target ui_screenshots
mkdir -p "$OUT"
# 96 dpi: one dialog unit is 1.5 pixels, as the windows are laid out.
xvfb-run -a -s "-screen 0 1100x640x24 -dpi 96" \
  env QT_QPA_PLATFORM=xcb "$BUILD_DIR/tests/ui/ui_screenshots" "$OUT"
cmake --build "$BUILD_DIR" --target voxletter-cli
/usr/bin/python3 tests/compose/page_screenshot.py "$BUILD_DIR/src/cli/voxletter-cli" "$OUT/recipient.png"
