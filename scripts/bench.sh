#!/usr/bin/env bash
# Builds torvane-bench (Release, in build/bench) and runs it with the given
# arguments: the engine against GMP, OpenSSL and LibTomMath. Installs what is
# missing first. Examples:
#   scripts/bench.sh                                    every operation and size (long)
#   scripts/bench.sh --sizes 1024,4096                  the small sizes
#   scripts/bench.sh --ops powmod,multiply --sizes 4096 --csv out.csv
#   scripts/bench.sh --help
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVANE_TESTS=OFF -DTORVANE_BENCH=ON > /dev/null
cmake --build build/bench --target torvane-bench -j "$(nproc)"
exec build/bench/bench/torvane-bench "$@"
