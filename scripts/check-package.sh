#!/usr/bin/env bash
# Checks the downloads as users get them, packed from existing build folders:
#   check-package.sh [BUILD_DIR [WINDOWS_BUILD_DIR]]   (default build/test)
# 1. packs the Debian package from BUILD_DIR (which must be built) and runs
#    lintian on it: errors fail, warnings are listed;
# 2. unpacks it into a scratch root and compares its files with the list
#    below, so that nothing else of the build tree gets in;
# 3. validates the menu entry (desktop-file-validate) and the AppStream
#    metadata (appstreamcli, without the network);
# 4. runs the unpacked torvane-headless on a short session;
# 5. starts the command of the menu entry, from the unpacked programs, on a
#    private Xvfb display: its window must open with its icon, it must have
#    loaded the dialog font, Alt+E must end it with status 0, and it must write
#    nothing into its home; a screenshot is left beside the package;
# 6. with WINDOWS_BUILD_DIR (a built mingw-w64 folder): packs the Windows zip
#    and checks that it holds torvane.exe, README.txt and LICENSE.txt;
# 7. and makes the Windows installer and runs it under Wine: silent install
#    for one user and for all, the Start menu shortcut and the uninstall
#    key, 2^100 computed by the installed torvane.exe, silent uninstall
#    (tests/app/shell/win32/installer_check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/test}")
windows_build=${2:+$(realpath "$2")}
work=$build/package-check
id=org.example.Torvane

fail() {
    echo "package check: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack could not pack the Debian package"; }
deb=$(ls "$work"/torvane_*_*.deb)
echo "package check: $(basename "$deb")"

lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt" >&2; fail "lintian found errors"; }
grep -E '^[EW]: ' "$work/lintian.txt" | sed 's/^/  lintian: /' || echo "  lintian: no errors, no warnings"

root=$work/root
dpkg -x "$deb" "$root"
expected="usr/bin/torvane
usr/bin/torvane-headless
usr/share/applications/$id.desktop
usr/share/doc/torvane/changelog.gz
usr/share/doc/torvane/copyright
$(for s in 16 32 48 64 128 256; do echo "usr/share/icons/hicolor/${s}x${s}/apps/$id.png"; done)
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/man/man1/torvane-headless.1.gz
usr/share/man/man1/torvane.1.gz
usr/share/metainfo/$id.metainfo.xml"
found=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$found" = "$(echo "$expected" | LC_ALL=C sort)" ] ||
    fail "the package holds other files than expected:$(diff <(echo "$expected" | LC_ALL=C sort) <(echo "$found") | sed 's/^/\n  /')"
for s in 16 32 48 64 128 256; do
    size=$(file -b "$root/usr/share/icons/hicolor/${s}x${s}/apps/$id.png" | grep -o '[0-9]* x [0-9]*')
    [ "$size" = "$s x $s" ] || fail "the ${s}x${s} icon is $size pixels"
done
version=$(dpkg-deb -f "$deb" Version)
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$id.metainfo.xml" || fail "the metadata has no release $version"
for m in torvane torvane-headless; do
    zcat "$root/usr/share/man/man1/$m.1.gz" | grep -q "^\.TH .* \"Torvane $version\"" || fail "the manual page of $m does not name $version"
done
echo "  files: the programs, menu entry, icons, metadata, manual pages and licence of version $version"

desktop=$root/usr/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate failed"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >"$work/appstream.txt" 2>&1 ||
    { cat "$work/appstream.txt" >&2; fail "appstreamcli validate failed"; }
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Categories)" = "Utility;Calculator;Math;" ] || fail "the menu entry's categories are $(entry Categories)"
[ "$(entry Icon)" = "$id" ] || fail "the menu entry names the icon $(entry Icon)"
echo "  menu entry and metadata valid"

answer=$(printf '%s\n' 'click 1015' 'type 1000 25' 'click 1049' 'show 1006' 'show 1007' | "$root/usr/bin/torvane-headless")
[ "$answer" = $'15511210043330985984000000\nBits: x- 5 y- 0 z- 0 a- 0 b- 0 ans- 84' ] ||
    fail "the installed torvane-headless answered 25! with: $answer"
echo "  torvane-headless: 25! = 15511210043330985984000000"

# The dialog font is Courier New, or Liberation Mono with the same metrics:
# the package must bring one of them in, and the running program must have
# loaded one (below).
dpkg-deb -f "$deb" Depends | grep -q 'fonts-liberation' || fail "the package does not depend on the dialog font"

# The menu entry's command, with the unpacked programs first on the path.
# (Exec may carry arguments after the program: it is split on blanks.)
command=$(entry Exec)
mkdir -m 700 "$work/home" "$work/runtime"
xvfb_pid=""
program_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display.txt" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
    [ -s "$work/display.txt" ] && break
    sleep 0.1
done
[ -s "$work/display.txt" ] || fail "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/display.txt")
env -i DISPLAY="$DISPLAY" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" PATH="$root/usr/bin:/usr/bin:/bin" \
    $command >"$work/torvane.log" 2>&1 &
program_pid=$!
window=""
for _ in $(seq 1 300); do
    window=$(xdotool search --onlyvisible --name '^Torvane v[0-9.]+$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    kill -0 "$program_pid" 2>/dev/null || { cat "$work/torvane.log" >&2; fail "torvane ended before its window opened"; }
    sleep 0.1
done
[ -n "$window" ] || fail "torvane opened no window"
sleep 0.5
icons=$(xprop -id "$window" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
[ -n "$icons" ] || fail "the window has no icon"
import -window "$window" "$work/torvane-installed.png"
font=""
for file in $(grep -o '/[^ ]*\.[ot]tf$' "/proc/$program_pid/maps" | sort -u); do
    family=$(fc-query -f '%{family}\n' "$file" | head -n1)
    case "$family" in *"Courier New"* | *"Liberation Mono"*) font=$family ;; esac
done
[ -n "$font" ] || fail "torvane loaded neither Courier New nor Liberation Mono"
# Keys go to the window under the pointer: a click into field X first.
xdotool mousemove --window "$window" 100 40 click 1
sleep 0.3
xdotool key alt+e
status=0
for _ in $(seq 1 100); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$program_pid" 2>/dev/null && fail "Alt+E did not end torvane"
wait "$program_pid" || status=$?
program_pid=""
[ "$status" -eq 0 ] || fail "torvane ended with status $status"
# Its session, in the place for such state, and nothing else.
session="$work/home/.local/state/torvane/session"
[ "$(head -n1 "$session" 2>/dev/null)" = "torvane-session 1" ] || fail "torvane kept no session in $session"
written=$(cd "$work/home" && find . -mindepth 1 | grep -v -x -e ./.local -e ./.local/state -e ./.local/state/torvane \
    -e ./.local/state/torvane/session || true)
[ -z "$written" ] || fail "torvane wrote into its home beside its session: $written"
echo "  torvane: opened from the menu entry's command ($command) with its icon ($icons) and the font $font; screenshot $work/torvane-installed.png"

if [ -n "$windows_build" ]; then
    cpack --config "$windows_build/CPackConfig.cmake" -G ZIP -B "$work" >"$work/cpack-windows.log" 2>&1 ||
        { cat "$work/cpack-windows.log" >&2; fail "cpack could not pack the Windows zip"; }
    zip=$(ls "$work"/torvane-*-windows-*.zip)
    held=$(cmake -E tar tf "$zip" | sed 's|^[^/]*/||' | grep -v '^$' | LC_ALL=C sort | tr '\n' ' ')
    [ "$held" = "LICENSE.txt README.txt torvane.exe " ] || fail "the Windows zip holds: $held"
    echo "  $(basename "$zip"): $held"
    scripts/make-installer.sh "$windows_build" "$work" >"$work/installer.log" 2>&1 ||
        { cat "$work/installer.log" >&2; fail "makensis could not make the Windows installer"; }
    setup=$(ls "$work"/torvane-*-windows-x86_64-setup.exe)
    tests/app/shell/win32/installer_check.sh "$setup" "$windows_build/tests/torvane_drive.exe" "$work/installer-check" |
        sed 's/^/  /' || fail "the Windows installer failed its check under Wine"
fi
echo "package check: passed"
