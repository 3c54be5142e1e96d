#!/usr/bin/env bash
# Pictures for the README: each tab of the main window on a sample data folder
# (under xvfb-run), and page 1 of the sheet and product-list reports.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh xvfb xauth poppler-utils
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target stolva_shots tst_report tst_page
xvfb-run -a -s "-screen 0 1280x900x24" ./build/stolva_shots docs/screenshots
# The counting page as a phone shows it (headless Chromium, 390 × 844).
STOLVA_SHOTS="$PWD/docs/screenshots" QT_QPA_PLATFORM=offscreen \
    ./build/tst_page "thePageOnAPhone:pairing and typed scans" >/dev/null
tmp=$(mktemp -d)
STOLVA_REPORT_DIR="$tmp" QT_QPA_PLATFORM=offscreen ./build/tst_report pdfIsWritten >/dev/null
pdftoppm -r 80 -png -f 1 -l 1 "$tmp/sheet-report.pdf" "$tmp/sheet"
pdftoppm -r 80 -png -f 1 -l 1 "$tmp/product-report.pdf" "$tmp/product"
cp "$tmp"/sheet-1.png docs/screenshots/sheet-report.png
cp "$tmp"/product-1.png docs/screenshots/product-report.png
rm -rf "$tmp"
ls -l docs/screenshots
