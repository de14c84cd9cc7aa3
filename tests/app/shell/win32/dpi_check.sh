#!/usr/bin/env bash
# The dialog under Wine at 96 and at 144 DPI (Wine's LogPixels setting):
#   dpi_check.sh PROBE DRIVE WORKDIR
# PROBE is torvane_probe.exe, DRIVE torvane_drive.exe; WINEPREFIX is set by
# the caller, whose LogPixels is restored afterwards. At each DPI the probe
# opens on a private Xvfb display, writes its layout (torvane-layout.txt)
# and is closed by its close box; a screenshot of each is left in WORKDIR
# (torvane-wine-96dpi.png, torvane-wine-144dpi.png). The check: the dialog
# is laid out for the DPI it runs at, at 144 DPI its client area is about
# 1.5 times as wide and as high as at 96, and no label or button caption is
# cut at 144 DPI that is not cut as much at 96 (where the template's own
# widths decide).
set -euo pipefail
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../private_display.sh"
probe=$(realpath "$1")
drive=$(realpath "$2")
work=$(realpath -m "$3")
mkdir -p "$work"
cd "$work"
rm -f display.txt

desktop='HKCU\Control Panel\Desktop'
saved=$(wine reg query "$desktop" /v LogPixels 2>/dev/null | tr -d '\r' | sed -n 's/^ *LogPixels *REG_DWORD *//p' || true)
xvfb_pid=""
cleanup() {
    wineserver -k 2>/dev/null || true
    if [ -n "$saved" ]; then
        wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$((saved))" /f >/dev/null 2>&1 || true
    else
        wine reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1 || true
    fi
    wineserver -w 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
fail() {
    echo "DPI check: $*" >&2
    exit 1
}

start_private_display 1280x1024x24

for dpi in 96 144; do
    wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w
    mkdir -p "$dpi"
    rm -f "$dpi"/torvane-*.txt
    (cd "$dpi" && wine "$probe" >probe.log 2>&1) &
    probe_pid=$!
    for _ in $(seq 1 300); do
        [ -f "$dpi/torvane-ready.txt" ] && break
        sleep 0.1
    done
    [ -f "$dpi/torvane-ready.txt" ] || fail "the dialog did not open at $dpi DPI"
    wine "$drive" window "Torvane v1.14" >/dev/null 2>&1 || fail "no visible window at $dpi DPI"
    sleep 1
    window=$(xdotool search --onlyvisible --name '^Torvane v1\.14$' | head -n1)
    import -window "$window" "torvane-wine-${dpi}dpi.png"
    closed=$(wine "$drive" window "Torvane v1.14" close 2>&1 | tr -d '\r')
    wait "$probe_pid" || true
    [ "$closed" = "exit 0" ] || fail "at $dpi DPI the close box gave: $closed"
    [ "$(sed -n 's/^dpi //p' "$dpi/torvane-layout.txt")" = "$dpi" ] ||
        fail "at $dpi DPI the dialog is laid out for $(sed -n 's/^dpi //p' "$dpi/torvane-layout.txt") DPI"
done

read -r w96 h96 < <(sed -n 's/^client //p' 96/torvane-layout.txt)
read -r w144 h144 < <(sed -n 's/^client //p' 144/torvane-layout.txt)
echo "DPI check: client area ${w96}x${h96} at 96 DPI, ${w144}x${h144} at 144 DPI; screenshots $work/torvane-wine-96dpi.png, torvane-wine-144dpi.png"
for pair in "$w144 $w96 wide" "$h144 $h96 high"; do
    read -r large small how <<<"$pair"
    [ $((large * 100)) -ge $((small * 135)) ] && [ $((large * 100)) -le $((small * 165)) ] ||
        fail "at 144 DPI the dialog is $large pixels $how, at 96 DPI $small: not about 1.5 times"
done
# "clipped ACROSS DOWN CAPTION": pixels missing to show CAPTION whole.
while read -r _ across down caption; do
    at_96=$(awk -v c="$caption" '{ rest = $0; sub(/^clipped [0-9]+ [0-9]+ /, "", rest) }
        $1 == "clipped" && rest == c { print $2, $3 }' 96/torvane-layout.txt)
    [ -n "$at_96" ] || fail "at 144 DPI \"$caption\" is cut ($across x $down pixels), at 96 DPI it is whole"
    read -r across_96 down_96 <<<"$at_96"
    [ $((across * 2)) -le $((across_96 * 3 + 4)) ] && [ $((down * 2)) -le $((down_96 * 3 + 4)) ] ||
        fail "at 144 DPI \"$caption\" lacks $across x $down pixels, at 96 DPI $across_96 x $down_96"
    echo "DPI check: \"$caption\" is wider than its label in the template: $across_96 pixels at 96 DPI, $across at 144"
done < <(grep '^clipped ' 144/torvane-layout.txt || true)
echo "DPI check: passed"
