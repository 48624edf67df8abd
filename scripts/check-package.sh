#!/usr/bin/env bash
# Installs into a staging folder and checks that every file lands where the desktop and udev
# look for it; builds the .deb and checks its control fields and contents; then installs the
# .deb with apt, starts the installed program and removes the package again.
# Usage: scripts/check-package.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
stage="$build/stage"
fail() { echo "check-package: $*" >&2; exit 1; }

rm -rf "$stage"
DESTDIR="$PWD/$stage" cmake --install "$build" --prefix /usr >/dev/null
for file in usr/bin/quillon usr/bin/quillon-virtual usr/bin/quillon-cli usr/bin/quillon-cli-virtual \
            usr/share/applications/orvane-quillon.desktop \
            usr/share/metainfo/orvane-quillon.metainfo.xml \
            usr/lib/udev/rules.d/60-orvane-quillon-iowarrior.rules \
            usr/share/man/man1/quillon.1 usr/share/man/man1/quillon-virtual.1 \
            usr/share/man/man1/quillon-cli.1 usr/share/man/man1/quillon-cli-virtual.1; do
    [ -f "$stage/$file" ] || fail "missing /$file"
done
for size in 16 32 48 64 128 256; do
    icon="$stage/usr/share/icons/hicolor/${size}x${size}/apps/orvane-quillon.png"
    [ -f "$icon" ] || fail "missing icon ${size}x${size}"
done
[ -x "$stage/usr/bin/quillon" ] || fail "quillon is not executable"
desktop-file-validate "$stage/usr/share/applications/orvane-quillon.desktop"
grep -q '^Name=Orvane Quillon$' "$stage/usr/share/applications/orvane-quillon.desktop" || fail "desktop name"
appstreamcli validate --no-net "$stage/usr/share/metainfo/orvane-quillon.metainfo.xml" >"$build/appstream.log" ||
    { cat "$build/appstream.log"; fail "AppStream metainfo"; }
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' \
    "$stage/usr/share/metainfo/orvane-quillon.metainfo.xml")
[ -f "$stage/usr/share/applications/$launchable" ] || fail "the metainfo launches $launchable, not installed"
for page in quillon quillon-cli; do
    man --warnings -l "$stage/usr/share/man/man1/$page.1" >/dev/null 2>"$build/man.log" || fail "man page $page"
    ! grep -q . "$build/man.log" || { cat "$build/man.log"; fail "man page $page warnings"; }
done
# The command-line program's help lists every exit status; --version names the release.
check_cli() {  # executable
    local help
    help=$("$1" --help) || fail "$1 --help failed"
    grep -q '^  5  the file could not be read or written, its image breaks' <<<"$help" || fail "$1 --help lacks the exit statuses"
    [ "$("$1" --version)" = "$(basename "$1") 1.5" ] || fail "$1 --version: $("$1" --version)"
}
check_cli "$stage/usr/bin/quillon-cli"
echo "staging install: every file in place, desktop entry and metainfo valid, quillon-cli answers"

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/orvane-quillon_*.deb | head -n 1)
info=$(dpkg-deb -I "$deb")
echo "$info" | grep -q '^ Package: orvane-quillon$' || fail "Package field"
echo "$info" | grep -q '^ Version: 1.5$' || fail "Version field"
depends=$(echo "$info" | sed -n 's/^ Depends: //p')
for needed in libqt6widgets6 libpugixml1v5 fonts-liberation qt6-qpa-plugins; do
    echo "$depends" | grep -q "$needed" || fail "Depends lacks $needed: $depends"
done
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/quillon ./usr/bin/quillon-virtual ./usr/bin/quillon-cli \
            ./usr/share/applications/orvane-quillon.desktop ./usr/share/metainfo/orvane-quillon.metainfo.xml \
            ./usr/share/man/man1/quillon-cli.1 \
            ./usr/lib/udev/rules.d/60-orvane-quillon-iowarrior.rules \
            ./usr/share/icons/hicolor/48x48/apps/orvane-quillon.png ./usr/share/man/man1/quillon.1; do
    echo "$contents" | grep -q " $file\$" || fail "package lacks $file"
done
echo "package: $(basename "$deb"), Depends: $depends"

if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
    status=0
    QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/quillon-virtual || status=$?
    cli_status=0
    (check_cli /usr/bin/quillon-cli && check_cli /usr/bin/quillon-cli-virtual) || cli_status=$?
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq orvane-quillon >/dev/null
    [ $status -eq 124 ] || fail "the installed program did not keep running (exit $status)"
    [ $cli_status -eq 0 ] || fail "the installed quillon-cli did not answer --help and --version"
    echo "apt install of the package: the installed programs start"
fi
