# Sourced by the window checks. start_private_display SCREEN starts Xvfb
# with the screen geometry SCREEN (e.g. 1024x768x24) on a display number it
# picks itself, and exports DISPLAY. It leaves the server's process id in
# xvfb_pid, for the caller's cleanup to kill, and calls the caller's fail
# when no display comes up. It writes display.txt and xvfb.log in the
# current folder.
start_private_display() {
    rm -f display.txt
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>display.txt >xvfb.log 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
        [ -s display.txt ] && break
        sleep 0.1
    done
    [ -s display.txt ] || fail "Xvfb did not start"
    DISPLAY=:$(head -n1 display.txt)
    export DISPLAY
}
