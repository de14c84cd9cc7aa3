#!/usr/bin/env bash
# Installs the Debian packages a task needs, only when something is missing.
#   install-deps.sh test   what the test suite needs
#   install-deps.sh run    what building and opening the calculator needs
#   install-deps.sh windows  what cross-compiling torvane.exe needs
#   install-deps.sh bench  what building torvane-bench needs
#   install-deps.sh package  what building the Debian package and the Windows downloads needs
set -euo pipefail
what=${1:-test}

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev)
# The window: Qt 6 Widgets and the dialog font's metric twin.
window=(qt6-base-dev fonts-liberation)
# The Windows build: mingw-w64, and GoogleTest's sources to build it for Windows.
windows=(mingw-w64 googletest)
# Checking both windows for real: Xvfb, key events, screenshots, Wine; the
# Qt window's accessibility tree through a session bus, the accessibility
# bus and Python's AT-SPI bindings.
window_checks=(xvfb xauth xdotool xclip imagemagick wine wine64 dbus-daemon at-spi2-core python3-pyatspi)
# Packing the Debian package (dpkg-shlibdeps of dpkg-dev, with file, computes
# its dependencies) and the Windows installer (makensis of nsis), and checking
# them: lintian, the menu entry's and the metadata's validators, xprop and
# fc-query for the window's icon and font.
packaging=(dpkg-dev file nsis)
package_checks=(lintian desktop-file-utils appstream x11-utils fontconfig)
# Verification: GMP as the oracle of the differential checks (tests only; the
# program never links it), clang with libFuzzer for the fuzz targets, valgrind.
verification=(libgmp-dev clang libclang-rt-14-dev valgrind)
# torvane-bench (built in the test build too): its peers GMP, OpenSSL's
# libcrypto and LibTomMath, found through pkg-config (benchmark only; the
# program never links them).
bench=(pkg-config libgmp-dev libssl-dev libtommath-dev)
case "$what" in
    test) packages+=("${window[@]}" "${windows[@]}" "${window_checks[@]}" "${verification[@]}" "${bench[@]}" "${packaging[@]}" "${package_checks[@]}") ;;
    run) packages+=("${window[@]}") ;;
    windows) packages+=("${windows[@]}") ;;
    bench) packages+=("${bench[@]}") ;;
    package) packages+=("${window[@]}" "${windows[@]}" "${packaging[@]}") ;;
    *) echo "usage: $0 test|run|windows|bench|package" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
