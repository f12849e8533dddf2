#!/usr/bin/env bash
# Installs a built tree into a scratch prefix, checks the layout, validates the desktop
# entry, the AppStream metadata and the manual page, builds the Debian package and has
# lintian check it (no error, no warning).
#   scripts/check-package.sh [BUILD_DIR [OUT_DIR]]   (default: build; OUT_DIR receives the .deb)
# scripts/check-installed-package.sh installs, uses and purges the package (CI does that in a
# clean root). Exit status 77 (skipped) when a validator is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
id=org.vantorel.Converter

for tool in desktop-file-validate appstreamcli man dpkg-shlibdeps dpkg-deb lintian; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

# 1. The installed tree.
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
[ "$(readlink "$prefix/bin/vantorel")" = ../lib/vantorel/vantorel ] || fail "bin/vantorel is not a link to the program folder"
for f in vantorel KelvoraCfg.dll wmv9VCMsetup.exe regsvr32 DidirizaDezuzev.dll qcap.dll hhctrl.ocx Vantorel.chm; do
    [ -f "$prefix/lib/vantorel/$f" ] || fail "lib/vantorel/$f is missing"
done
for lib in avcodec avformat avutil; do
    link=$prefix/lib/vantorel/$lib.dll
    [ -L "$link" ] && [ -e "$link" ] || fail "$lib.dll is not a working link to the system's library"
done
for size in 16 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    file "$png" | grep -q "$size x $size" || fail "no $size px icon"
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
[ -f "$prefix/share/doc/vantorel/copyright" ] || fail "no copyright file"
# Help and version need no display.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/vantorel" --version)
expected=$(sed -n 's/^project(Vantorel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$version" = "vantorel $expected" ] || fail "--version printed '$version'"

# 2. Desktop entry, metadata and manual page.
desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
grep -q "<release version=\"$expected\"" "$prefix/share/metainfo/$id.metainfo.xml" || fail "no release notes for $expected"
page=$prefix/share/man/man1/vantorel.1.gz
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
rendered=$(LC_ALL=C MANWIDTH=200 man -l -P cat "$page" 2>/dev/null)
for option in $("$prefix/bin/vantorel" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$rendered" || fail "the manual page does not describe $option"
done

# 3. The Debian package.
(cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null)
deb=$(ls "$scratch"/deb/vantorel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libavformat59 ffmpeg; do
    grep -q "$need" <<<"$depends" || fail "the package does not depend on $need: $depends"
done
contents=$(dpkg-deb -c "$deb")
grep -q -- "./usr/bin/vantorel -> ../lib/vantorel/vantorel" <<<"$contents" || fail "the package has no /usr/bin/vantorel"

# Warnings count as failures; the few tags overridden in the package carry their reason.
lintian --fail-on error,warning "$deb" ||
    fail "lintian found the above in $(basename "$deb")"
[ -z "${2:-}" ] || cp "$deb" "$2/"
echo "package checks passed: $(basename "$deb")"
