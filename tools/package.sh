#!/usr/bin/env bash
# Builds the Debian package build-pkg/stolva_<version>_amd64.deb, checks it
# with lintian, unpacks it into a scratch root and runs the installed program
# there (offscreen): --version, then a start that must make its data folder
# in the user's data folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh dpkg-dev lintian file
BUILD_DIR="${BUILD_DIR:-build-pkg}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DSTOLVA_WERROR="${STOLVA_WERROR:-OFF}"
cmake --build "$BUILD_DIR" -j"$(nproc)" --target stolva changelog
(cd "$BUILD_DIR" && cpack -G DEB)
deb=$(ls "$BUILD_DIR"/stolva_*_amd64.deb)
echo "== $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
# Errors and warnings fail the build (informational tags do not).
lintian --fail-on error,warning "$deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root/pkg"
mkdir -p "$root/home"
run() { HOME="$root/home" XDG_DATA_HOME= QT_QPA_PLATFORM=offscreen "$root/pkg/usr/bin/stolva" "$@"; }
run --version | grep -q "Stolva 1\." || { echo "installed program: --version failed"; exit 1; }
[ "$(run --exit-when-shown)" = "shown" ] || { echo "installed program did not start"; exit 1; }
data="$root/home/.local/share/Stolva"
for f in Stolva.mdb StolvaWork.mdb; do
    [ -s "$data/$f" ] || { echo "installed program: no $data/$f"; exit 1; }
done
ls "$data/backup"/Stolva-*.mdb >/dev/null || { echo "installed program: no daily backup"; exit 1; }
[ ! -e "$root/pkg/usr/bin/data" ] || { echo "installed program wrote beside itself"; exit 1; }
echo "installed program started; data in ~/.local/share/Stolva: ok"
