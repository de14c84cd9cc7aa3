#!/usr/bin/env bash
# Makes the Windows installer from a built mingw-w64 folder:
#   make-installer.sh WINDOWS_BUILD_DIR OUT_DIR
# installs torvane.exe, README.txt and LICENSE.txt (stripped) into a stage
# folder and packs them with makensis (Debian's nsis) by the script that
# CMake configured from packaging/torvane.nsi.in; leaves
# OUT_DIR/torvane-VERSION-windows-x86_64-setup.exe.
set -euo pipefail
build=$(realpath "$1")
out=$(realpath -m "$2")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "make-installer: no project version in $build" >&2; exit 1; }
stage=$build/installer-stage
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
mkdir -p "$out"
setup=$out/torvane-$version-windows-x86_64-setup.exe
makensis -V2 -DSTAGE="$stage" -DOUTFILE="$setup" "$build/packaging/torvane.nsi"
echo "built $setup"
