#!/usr/bin/env bash
# Builds the two downloads on a fresh Debian 12 machine (installs what is
# missing with apt-get first):
#   build/package/torvane_VERSION_ARCH.deb         the Debian package
#   build/package/torvane-VERSION-windows-x86_64.zip  torvane.exe, README.txt, LICENSE.txt
#   build/package/torvane-VERSION-windows-x86_64-setup.exe  the same files in an installer
# Install the first with: apt install ./build/package/torvane_VERSION_ARCH.deb
# scripts/check-package.sh checks them (the test command runs it).
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/package
scripts/install-deps.sh package

# The Linux programs, built with the hardening Debian's own packages get
# (fortified libc calls, stack protector, read-only relocations bound at start).
hardening_cxx="-D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat -Werror=format-security"
hardening_ld="-Wl,-z,relro -Wl,-z,now"
cmake -S . -B build/package-linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVANE_TESTS=OFF -DTORVANE_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$hardening_cxx" -DCMAKE_EXE_LINKER_FLAGS="$hardening_ld"
cmake --build build/package-linux -j "$(nproc)"
cpack --config build/package-linux/CPackConfig.cmake -G DEB -B "$out"

# torvane.exe, cross-built as scripts/build-windows.sh builds it.
scripts/build-windows.sh build/windows-release
cpack --config build/windows-release/CPackConfig.cmake -G ZIP -B "$out"
scripts/make-installer.sh build/windows-release "$out"

rm -rf "$out/_CPack_Packages"
echo "built:"
ls -1 "$out"/torvane_*.deb "$out"/torvane-*-windows-*.zip "$out"/torvane-*-windows-*-setup.exe
