#!/usr/bin/env bash
# The Windows installer under Wine, as a user runs it:
#   installer_check.sh INSTALLER DRIVE WORKDIR
# INSTALLER is torvane-VERSION-windows-x86_64-setup.exe, DRIVE the built
# torvane_drive.exe. In a Wine prefix of its own (WORKDIR/wineprefix) and on
# a private Xvfb display, for one user (/CurrentUser) and then as Wine runs
# it by default (elevated: for all users):
# 1. a silent install (/S) ends with status 0;
# 2. the program's folder holds torvane.exe, README.txt, LICENSE.txt and the
#    uninstaller, the Start menu holds Torvane.lnk, and the uninstall key of
#    Apps & Features names Torvane, the version, the publisher, the icon and
#    the size;
# 3. the installed torvane.exe computes 2^100 (typed and pressed from
#    outside by DRIVE, the answer read back from its window) and ends with
#    status 0 at the close box (once, for the per-user install);
# 4. the silent uninstall leaves neither the folder, nor the shortcut, nor
#    the key.
set -euo pipefail
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../private_display.sh"
installer=$(realpath "$1")
drive=$(realpath "$2")
work=$(realpath -m "$3")
version=$(basename "$installer" | sed -n 's/^torvane-\(.*\)-windows-x86_64-setup\.exe$/\1/p')
[ -n "$version" ] || { echo "installer check: cannot read the version from $(basename "$installer")" >&2; exit 1; }
mkdir -p "$work"
cd "$work"
rm -f display.txt

xvfb_pid=""
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
fail() {
    echo "installer check: $*" >&2
    exit 1
}

# winemenubuilder would copy the Start menu entry into the Linux desktop's menu.
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
fi
wineserver -w
start_private_display 1024x768x24

uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane'
user=$(wine cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
drive_c=$WINEPREFIX/drive_c
# The value NAME of the uninstall key under ROOT (HKCU or HKLM), or nothing.
value() {
    wine reg query "$1\\$uninstall_key" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
key_exists() { wine reg query "$1\\$uninstall_key" >/dev/null 2>&1; }

check_mode() {  # LABEL ROOT FOLDER SHORTCUT COMPUTE [INSTALLER OPTIONS...]
    local label=$1 root=$2 folder=$3 shortcut=$4 compute=$5
    shift 5
    status=0
    wine "$installer" /S "$@" >"install-$label.log" 2>&1 || status=$?
    wineserver -w
    [ "$status" -eq 0 ] || fail "$label: the silent install ended with status $status"
    for f in torvane.exe README.txt LICENSE.txt uninstall.exe; do
        [ -f "$folder/$f" ] || fail "$label: no $f in $folder"
    done
    [ -f "$shortcut" ] || fail "$label: no Start menu shortcut $shortcut"
    key_exists "$root" || fail "$label: no uninstall key in $root"
    [ "$(value "$root" DisplayName)" = Torvane ] || fail "$label: DisplayName is '$(value "$root" DisplayName)'"
    [ "$(value "$root" DisplayVersion)" = "$version" ] || fail "$label: DisplayVersion is '$(value "$root" DisplayVersion)'"
    [ "$(value "$root" Publisher)" = "the Torvane developers" ] || fail "$label: Publisher is '$(value "$root" Publisher)'"
    value "$root" DisplayIcon | grep -q 'torvane\.exe",0$' || fail "$label: DisplayIcon is '$(value "$root" DisplayIcon)'"
    value "$root" UninstallString | grep -q 'uninstall\.exe"$' || fail "$label: no UninstallString"
    size=$(value "$root" EstimatedSize)
    [ -n "$size" ] && [ $((size)) -gt 100 ] || fail "$label: EstimatedSize is '$size'"
    echo "installer check: $label: $folder, $(basename "$shortcut") in the Start menu, key in $root (size $((size)) KiB)"

    if [ "$compute" = yes ]; then
        # The installed program, worked from outside: base 10, X = 2, Y = 100,
        # X^n; the answer is read back from its window.
        (cd "$folder" && wine ./torvane.exe >"$work/torvane.log" 2>&1) &
        local program_pid=$!
        local answer
        answer=$(wine "$drive" window "Torvane v1.14" click 1015 wait 1006 0 click 1061 click 1062 \
            type 1000 2 type 1001 100 click 1043 wait 1006 1 show 1006 close 2>&1 | tr -d '\r') ||
            fail "$label: driving the installed torvane.exe failed: $answer"
        wait "$program_pid" || true
        [ "$answer" = $'1267650600228229401496703205376\nexit 0' ] ||
            fail "$label: the installed torvane.exe answered 2^100 with: $answer"
        echo "installer check: $label: the installed torvane.exe computed 2^100 = 1267650600228229401496703205376"
    fi

    # The uninstaller copies itself into the temporary folder and runs from
    # there: wineserver -w waits for that copy as well.
    status=0
    wine "$folder/uninstall.exe" /S >"uninstall-$label.log" 2>&1 || status=$?
    wineserver -w
    [ "$status" -eq 0 ] || fail "$label: the silent uninstall ended with status $status"
    [ ! -e "$folder" ] || fail "$label: the uninstall left $(find "$folder" | tr '\n' ' ')"
    [ ! -e "$shortcut" ] || fail "$label: the uninstall left the shortcut"
    key_exists "$root" && fail "$label: the uninstall left the key in $root"
    echo "installer check: $label: the silent uninstall left no file and no key"
}

programs_menu='AppData/Roaming/Microsoft/Windows/Start Menu/Programs'
check_mode "for the current user" HKCU "$drive_c/users/$user/AppData/Local/Programs/Torvane" \
    "$drive_c/users/$user/$programs_menu/Torvane.lnk" yes /CurrentUser
key_exists HKLM && fail "a per-user install wrote the machine's uninstall key"
# Wine runs programs elevated: by default the installer installs for all users.
check_mode "for all users" HKLM "$drive_c/Program Files/Torvane" \
    "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Torvane.lnk" no
echo "installer check: passed"
