#!/usr/bin/env bash
# Cross-compiles the Windows program, torvane.exe, with mingw-w64:
#   scripts/build-windows.sh [BUILD_DIR]      (default build/windows-release)
# The result is one self-contained executable, BUILD_DIR/app/shell/win32/torvane.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/windows-release}
scripts/install-deps.sh windows
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTORVANE_TESTS=OFF -DTORVANE_BENCH=OFF
cmake --build "$out" --target torvane -j "$(nproc)"
echo "built $out/app/shell/win32/torvane.exe"
