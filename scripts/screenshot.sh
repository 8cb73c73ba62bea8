#!/usr/bin/env bash
# Pictures of the composer, the delivery window, the about box, the font window, the recording and the
# sound windows, rendered by a real X server (Xvfb) with the program's font, in Chinese (screenshots/)
# and in English (screenshots/en/), and of a voice mail's page as a recipient sees it (the mail is the
# same in every language), written to screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/default}
OUT=${OUT:-screenshots}
cmake --build "$BUILD_DIR" --target ui_screenshots
mkdir -p "$OUT"
mkdir -p "$OUT/en"
# 96 dpi: one dialog unit is 1.5 pixels, as the windows are laid out. The windows in Chinese (the C
# locale) into $OUT, and in English into $OUT/en.
for language in C.UTF-8:"$OUT" en_US.UTF-8:"$OUT/en"; do
  xvfb-run -a -s "-screen 0 1100x640x24 -dpi 96" \
    env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG="${language%%:*}" QT_QPA_PLATFORM=xcb \
    "$BUILD_DIR/tests/ui/ui_screenshots" "${language#*:}"
done
cmake --build "$BUILD_DIR" --target voxletter-cli
/usr/bin/python3 tests/compose/page_screenshot.py "$BUILD_DIR/src/cli/voxletter-cli" "$OUT/recipient.png"
