#!/usr/bin/env bash
# The dialog under Wine at 96, 120, 144 and 192 DPI (Wine's LogPixels
# setting):
#   dpi_check.sh PROBE DRIVE WORKDIR
# PROBE is torvane_probe.exe, DRIVE torvane_drive.exe; WINEPREFIX is set by
# the caller, whose LogPixels is restored afterwards. At each DPI the probe
# opens on a private Xvfb display, writes its layout (torvane-layout.txt)
# and, once on the screen, the labels it shows cut (torvane-labels.txt), and
# is closed by its close box; a screenshot of each is left in WORKDIR
# (torvane-wine-96dpi.png ...). The check: the dialog is laid out for the
# DPI it runs at, its client area grows with the DPI (about 1.25, 1.5 and 2
# times as wide and as high as at 96), no button caption is wider than its
# button, and no label shows its caption cut at any of the four: neither by
# its own edges nor by another control painting over it.
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

start_private_display 1600x1200x24

dpis=(96 120 144 192)
for dpi in "${dpis[@]}"; do
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
    for _ in $(seq 1 300); do
        grep -qx done "$dpi/torvane-labels.txt" 2>/dev/null && break
        sleep 0.1
    done
    grep -qx done "$dpi/torvane-labels.txt" 2>/dev/null || fail "at $dpi DPI the probe did not look at its labels"
    window=$(xdotool search --onlyvisible --name '^Torvane v1\.14$' | head -n1)
    import -window "$window" "torvane-wine-${dpi}dpi.png"
    closed=$(wine "$drive" window "Torvane v1.14" close 2>&1 | tr -d '\r')
    wait "$probe_pid" || true
    [ "$closed" = "exit 0" ] || fail "at $dpi DPI the close box gave: $closed"
    [ "$(sed -n 's/^dpi //p' "$dpi/torvane-layout.txt")" = "$dpi" ] ||
        fail "at $dpi DPI the dialog is laid out for $(sed -n 's/^dpi //p' "$dpi/torvane-layout.txt") DPI"
done

read -r w96 h96 < <(sed -n 's/^client //p' 96/torvane-layout.txt)
problems=0
for dpi in "${dpis[@]}"; do
    read -r w h < <(sed -n 's/^client //p' "$dpi/torvane-layout.txt")
    echo "DPI check: client area ${w}x${h} at $dpi DPI, screenshot $work/torvane-wine-${dpi}dpi.png"
    for pair in "$w $w96 wide" "$h $h96 high"; do
        read -r large small how <<<"$pair"
        [ $((large * 96 * 100)) -ge $((small * dpi * 90)) ] && [ $((large * 96 * 100)) -le $((small * dpi * 110)) ] ||
            fail "at $dpi DPI the dialog is $large pixels $how, at 96 DPI $small: not about $dpi/96 times"
    done
    # "label MISSING WANTED CAPTION": MISSING of the WANTED pixels of ink of
    # the caption drawn whole do not show. One may differ by rounding.
    while read -r _ missing wanted caption; do
        [ "$missing" -le 1 ] && continue
        echo "DPI check: at $dpi DPI the label \"$caption\" shows cut ($missing of $wanted pixels of ink missing)" >&2
        problems=$((problems + 1))
    done < <(grep '^label ' "$dpi/torvane-labels.txt" || true)
    # "clipped ACROSS DOWN CAPTION": a button caption wider or higher than
    # its button.
    while read -r _ across down caption; do
        echo "DPI check: at $dpi DPI the caption \"$caption\" does not fit its button ($across x $down pixels)" >&2
        problems=$((problems + 1))
    done < <(grep '^clipped ' "$dpi/torvane-layout.txt" || true)
done
[ "$problems" -eq 0 ] || fail "$problems captions do not show whole"
echo "DPI check: passed"
