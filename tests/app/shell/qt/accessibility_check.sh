#!/usr/bin/env bash
# The Qt window as a screen reader meets it:
#   accessibility_check.sh PROBE WORKDIR
# PROBE (torvane-probe) opens on a private Xvfb display, inside a session bus
# of its own with the accessibility bus started and Qt's bridge to it on;
# atspi_tree.py then reads the window's accessibility tree (every field and
# button named, the buttons' names all different) and presses CLEAR ALL
# through its accessible action, waiting for the status change's event.
set -euo pipefail
self=$(realpath "${BASH_SOURCE[0]}")
here=$(dirname "$self")
probe=$(realpath "$1")
work=$(realpath -m "$2")
mkdir -p "$work"
cd "$work"

if [ "${TORVANE_IN_SESSION_BUS:-}" != 1 ]; then
    # A session bus of this check's own, gone when the check ends.
    TORVANE_IN_SESSION_BUS=1 exec dbus-run-session -- "$self" "$probe" "$work"
fi

source "$here/../private_display.sh"
xvfb_pid=""
probe_pid=""
cleanup() {
    [ -n "$probe_pid" ] && kill "$probe_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
fail() {
    echo "accessibility check: $*" >&2
    exit 1
}
start_private_display 1024x768x24
rm -f torvane-ready.txt torvane-status.log
# The accessibility bus: its launcher (Debian's at-spi2-core) is started by
# the session bus on the first question for its address.
for _ in $(seq 1 100); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >bus.log 2>&1 && break
    sleep 0.1
done
grep -q 'string "' bus.log || fail "no accessibility bus: $(cat bus.log)"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 env -u QT_QPA_PLATFORM "$probe" >probe.log 2>&1 &
probe_pid=$!
for _ in $(seq 1 600); do
    [ -f torvane-ready.txt ] && break
    kill -0 "$probe_pid" 2>/dev/null || fail "the program ended before its window opened"
    sleep 0.1
done
[ -f torvane-ready.txt ] || fail "the window did not open"
# Debian's Python, where python3-pyatspi lives.
timeout 180 /usr/bin/python3 "$here/atspi_tree.py" "Torvane v1.14"
