#!/usr/bin/env bash
# Installs the Debian packages Stolva needs to build, run and test, when missing.
# Further package names given as arguments are installed too.
set -euo pipefail
PKGS=(qt6-base-dev libqt6sql6-sqlite qt6-base-dev-tools qt6-translations-l10n libgl-dev
      fonts-noto-cjk libcsv-dev qt6-charts-dev libqt6opengl6-dev cmake g++ make
      libsqlite3-dev poppler-utils
      libxlsxwriter-dev liborcus-dev pkg-config python3-openpyxl
      postgresql-15 libqt6sql6-psql libreoffice-calc-nogui libssl-dev
      libcpp-httplib-dev libqrencode-dev chromium "$@")
# Node.js and npm for the phone page's reader and its browser tests; a machine
# that has its own Node.js keeps it.
command -v npm >/dev/null || PKGS+=(nodejs npm)
missing=()
for p in "${PKGS[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The phone page's packages, exactly as the lockfile pins them.
web="$(cd "$(dirname "$0")/../phones/web" && pwd)"
if [ ! -f "$web/node_modules/.package-lock.json" ] || [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
    (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
fi
