#!/usr/bin/env bash
# Builds the calculator and opens its window: installs what is missing with
# apt-get (Qt 6 Widgets, the dialog font), builds torvane and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVANE_TESTS=OFF -DTORVANE_BENCH=OFF
cmake --build build/run --target torvane -j "$(nproc)"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: built build/run/app/shell/qt/torvane; start it on a desktop session." >&2
    exit 1
fi
exec build/run/app/shell/qt/torvane
