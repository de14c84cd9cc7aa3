#!/usr/bin/env bash
# The calculator's real window on a private Xvfb display, driven with real
# key and mouse events:
#   real_window_check.sh qt|wine PROBE WORKDIR [SCREENSHOT]
# PROBE is the test build of the program (torvane-probe, or torvane_probe.exe
# run by Wine with WINEPREFIX set by the caller). It types X = C and Y = 12
# (base 16), presses Enter and Esc (which must do nothing), presses GCD(X,Y)
# by its mnemonic Alt+G and saves a screenshot (SCREENSHOT), switches to
# base 10, types "12a34" into Z (the stray "a" vanishes and the caret stays
# put: 1234), leaves with Alt+E, and checks the fields the probe wrote when
# it ended. Before all that, a long job: it pastes 65530-bit X, Y and Z,
# presses X^Y MOD Z (Alt+M), waits for "Working..." with a rising share
# (screenshot SCREENSHOT-working.png), presses Esc and wants "Cancelled."
# within half a second (screenshot
# SCREENSHOT-cancelled.png), then empties X, Y and Z with CL.
set -euo pipefail
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/private_display.sh"
kind=$1
probe=$(realpath "$2")
work=$3
shot=${4:-}
[ -n "$shot" ] && shot=$(realpath -m "$shot")
mkdir -p "$work"
cd "$work"
rm -f torvane-ready.txt torvane-fields.txt torvane-status.log display.txt

xvfb_pid=""
probe_pid=""
cleanup() {
    [ -n "$probe_pid" ] && kill "$probe_pid" 2>/dev/null || true
    [ "$kind" = wine ] && wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

fail() {
    echo "real window check ($kind): $*" >&2
    [ -f torvane-fields.txt ] && { echo "fields the program wrote:" >&2; cat torvane-fields.txt >&2; }
    exit 1
}

# A display of our own; Xvfb names a free one.
start_private_display 1024x768x24

case "$kind" in
    qt) env -u QT_QPA_PLATFORM "$probe" >probe.log 2>&1 & ;;
    wine) wine "$probe" >probe.log 2>&1 & ;;
    *) fail "unknown kind $kind" ;;
esac
probe_pid=$!

# Ready when the program says so and its window is visible.
window=""
for _ in $(seq 1 600); do
    if [ -f torvane-ready.txt ]; then
        window=$(xdotool search --onlyvisible --name '^Torvane v1\.14$' 2>/dev/null | head -n1 || true)
        [ -n "$window" ] && break
    fi
    kill -0 "$probe_pid" 2>/dev/null || fail "the program ended before its window opened"
    sleep 0.1
done
[ -n "$window" ] || fail "no window"
sleep 0.5

# Field centres from the template (dialog units of the 326 x 267 dialog and
# the expression line's row of 16 below it), scaled to the window's size. Keys go to the window under the pointer.
read -r width height < <(xdotool getwindowgeometry --shell "$window" | awk -F= '/^WIDTH/{w=$2} /^HEIGHT/{h=$2} END{print w, h}')
click_field() {  # x y w h of the field in dialog units
    local x=$(( width * ($1 * 2 + $3) / (2 * 326) ))
    local y=$(( height * ($2 * 2 + $4) / (2 * (267 + 16)) ))
    xdotool mousemove --window "$window" "$x" "$y" click 1
    sleep 0.3
}
# The long job. 65530-bit operands: 16383 hexadecimal digits led by a 3.
big() {  # a pseudo-random digit string from a seed
    local digits
    digits=$(printf '%s' "$1" | sha512sum | cut -c1-64)
    while [ ${#digits} -lt 16382 ]; do digits=$digits$digits; done
    printf '3%s' "${digits:0:16382}" | tr 'a-f' 'A-F'
}
paste_field() {  # text, the status text the paste leads to, then x y w h of the field and of its CL button
    local text=$1 expected=$2
    shift
    printf '%s' "$text" | xclip -selection clipboard -i
    # The new clipboard owner answers before the program is asked for it.
    for _ in $(seq 1 50); do
        [ "$(xclip -selection clipboard -o 2>/dev/null)" = "$text" ] && break
        sleep 0.1
    done
    # Wine looks at the X clipboard again only two seconds after it last did.
    if [ "$kind" = wine ]; then sleep 2.5; else sleep 0.5; fi
    click_field "$6" "$7" "$8" "$9"   # CL empties the field
    click_field "$2" "$3" "$4" "$5"
    xdotool key ctrl+v
    # Laying a pasted field out may take a loaded machine a minute or more
    # (Wine's edit control): the program's own status line says when the
    # paste is in, before the clipboard may change again.
    for _ in $(seq 1 3000); do
        grep -qF " $expected" torvane-status.log && return 0
        sleep 0.1
    done
    fail "the paste did not lead to \"$expected\""
}
paste_field "$(big x)" "Bits: x- 65530 y- 0 z- 0 a- 0 b- 0 ans- 0" 30 15 289 28 17 32 11 11
paste_field "$(big y)" "Bits: x- 65530 y- 65530 z- 0 a- 0 b- 0 ans- 0" 30 44 289 26 17 59 11 11
paste_field "$(big z | sed 's/.$/B/')" "Bits: x- 65530 y- 65530 z- 65530 a- 0 b- 0 ans- 0" 30 71 289 29 17 88 11 11
xdotool key alt+m
# "Working..." with a share that rises.
shares() { sed -n 's/^[0-9.]* Working\.\.\. \([0-9.]*\)%$/\1/p' torvane-status.log; }
for _ in $(seq 1 300); do
    [ "$(shares | sort -u | wc -l)" -ge 2 ] && break
    sleep 0.1
done
[ "$(shares | sort -u | wc -l)" -ge 2 ] || fail "no rising \"Working...\" share: $(shares | tr '\n' ' ')"
shares | sort -c -g || fail "the share fell: $(shares | tr '\n' ' ')"
[ -n "$shot" ] && import -window "$window" "${shot%.png}-working.png"
pressed=$(date +%s.%N)
xdotool key Escape
for _ in $(seq 1 100); do
    grep -q " Cancelled\.$" torvane-status.log && break
    sleep 0.05
done
cancelled=$(sed -n 's/^\([0-9.]*\) Cancelled\.$/\1/p' torvane-status.log | head -n1)
[ -n "$cancelled" ] || fail "Esc did not cancel the job"
delay=$(awk -v a="$cancelled" -v b="$pressed" 'BEGIN { printf "%.3f", a - b }')
echo "real window check ($kind): shares $(shares | head -n1)% ... $(shares | tail -n1)%, cancelled $delay s after Esc"
awk -v d="$delay" 'BEGIN { exit !(d < 0.5) }' || fail "cancelling took $delay s"
sleep 0.3
[ -n "$shot" ] && import -window "$window" "${shot%.png}-cancelled.png"

# Back to small operands (a field holding 20000 digits is slow to redraw in
# Wine's edit control): X and Y emptied for typing, Z empty as at the start.
click_field 17 32 11 11       # CL beside X
click_field 17 59 11 11       # CL beside Y
click_field 17 88 11 11       # CL beside Z
click_field 30 15 289 28      # X
xdotool type --delay 60 "C"
click_field 30 44 289 26      # Y
xdotool type --delay 60 "12"
sleep 0.3
# Enter and Esc do nothing: no default button, no cancel, the window stays.
xdotool key Return
xdotool key Escape
sleep 0.3
kill -0 "$probe_pid" 2>/dev/null || fail "Enter or Esc ended the program"
xdotool key alt+g
sleep 1.5
[ -n "$shot" ] && import -window "$window" "$shot"
click_field 99 235 24 11      # base 10
click_field 17 88 11 11       # CL beside Z, which shows 0 now
click_field 30 71 289 29      # Z
xdotool type --delay 60 "12a34"
sleep 0.5
xdotool key alt+e

for _ in $(seq 1 200); do
    kill -0 "$probe_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$probe_pid" 2>/dev/null && fail "Alt+E did not end the program"
status=0
wait "$probe_pid" || status=$?
probe_pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ -f torvane-fields.txt ] || fail "the program wrote no fields"

expect() {
    grep -qxF "$1" torvane-fields.txt || fail "expected the line '$1'"
}
expect "1000=12"
expect "1001=18"
expect "1006=6"
expect "1005=36"
expect "1002=1234"
expect "1007=Bits: x- 4 y- 5 z- 11 a- 0 b- 6 ans- 3"
echo "real window check ($kind): GCD(X,Y) typed and pressed by its mnemonic, answer 6, LCM 24; 12a34 typed as 1234;"
echo "  65530-bit X^Y MOD Z showed a rising share and Esc cancelled it"
