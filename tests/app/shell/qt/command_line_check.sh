#!/usr/bin/env bash
# torvane's command line, answered without a display:
#   command_line_check.sh TORVANE
# An unknown option is named as Qt names it and ends the program with status
# 1, a stray argument is refused with status 1, --help and --version answer
# with status 0 (--fresh and Qt's own "-platform NAME" are accepted
# alongside), and none of them needs the window system.
set -uo pipefail
torvane=$1
fail() {
    echo "command line check: $*" >&2
    exit 1
}
run() {  # expected status, expected text on one line of the output, arguments...
    local want=$1 text=$2
    shift 2
    local out status=0
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$torvane" "$@" 2>&1) || status=$?
    [ "$status" -eq "$want" ] || fail "torvane $* ended with status $status, not $want: $out"
    grep -qF -- "$text" <<<"$out" || fail "torvane $* did not say \"$text\": $out"
}
run 1 "torvane: Unknown option 'bogus'." --bogus
run 1 "torvane: Unknown option 'bogus'." -bogus
run 1 "takes no positional arguments" numbers.txt
run 0 "Usage:" --help
run 0 "torvane" --fresh -platform xcb --version
echo "command line check: passed"
