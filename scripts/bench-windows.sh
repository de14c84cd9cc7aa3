#!/usr/bin/env bash
# The engine's speed in the Windows build: cross-compiles torvane-bench with
# mingw-w64 (Release, the engine alone, in build/windows-bench) and runs it
# under Wine (64-bit, a prefix of its own in build/windows-bench/wineprefix).
#
#   scripts/bench-windows.sh [ARGS...]
#       torvane-bench.exe with ARGS (see --help), e.g.
#       scripts/bench-windows.sh --ops multiply,powmod --sizes 4096,65530 --threads 2
#   scripts/bench-windows.sh --vs-linux [--rounds N] [ARGS...]
#       also builds the Linux torvane-bench (build/bench) and runs, N rounds
#       (default 3), for each cell of --ops and --sizes (default the nine
#       operations of the comparison at 1024 to 65530 bits) in turn with the
#       first changing from cell to cell, the Linux build, the Linux build with
#       --no-ifma and the Windows build, each on the same operands with ARGS
#       and --libs torvane --clock wall --digests (Wine's thread CPU times
#       advance by 10 ms). Then prints for each cell the medians and the median of the
#       rounds' Windows/Linux ratios, and checks that all three computed the
#       same results. With --threads 2 in ARGS each cell has the rows torvane
#       (one thread) and torvane_mt (the pool). CSVs in BUILD_DIR/vs-linux.
# The build directories: TORVANE_WINDOWS_BENCH_DIR (default build/windows-bench)
# and TORVANE_LINUX_BENCH_DIR (default build/bench), e.g. to keep a build of
# an earlier commit apart.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${TORVANE_WINDOWS_BENCH_DIR:-build/windows-bench}")
linux_out=$(realpath -m "${TORVANE_LINUX_BENCH_DIR:-build/bench}")

vs_linux=0
rounds=3
if [ "${1:-}" = "--vs-linux" ]; then
    vs_linux=1
    shift
    if [ "${1:-}" = "--rounds" ]; then
        rounds=$2
        shift 2
    fi
fi

scripts/install-deps.sh windows >/dev/null
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTORVANE_TESTS=OFF -DTORVANE_BENCH=ON >/dev/null
cmake --build "$out" --target torvane-bench -j "$(nproc)" >/dev/null
windows_bench=$out/bench/torvane-bench.exe

export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
fi

if [ "$vs_linux" = 0 ]; then
    exec wine "$windows_bench" "$@"
fi

scripts/install-deps.sh bench >/dev/null
cmake -S . -B "$linux_out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVANE_TESTS=OFF -DTORVANE_BENCH=ON >/dev/null
cmake --build "$linux_out" --target torvane-bench -j "$(nproc)" >/dev/null
linux_bench=$linux_out/bench/torvane-bench

csvs=$out/vs-linux
rm -rf "$csvs"
mkdir -p "$csvs"
# --ops and --sizes are taken apart: the builds take turns cell by cell, so
# that the drift of a shared machine reaches all three alike.
ops=multiply,square,divide,to_decimal,from_decimal,gcd,inverse,cube_root,powmod
sizes=1024,4096,16384,65530
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --ops) ops=$2; shift 2 ;;
        --sizes) sizes=$2; shift 2 ;;
        *) args+=("$1"); shift ;;
    esac
done
common=(--libs torvane --clock wall --digests)
builds=(linux linux_no_ifma windows)
run_build() {  # build round op bits
    local cell=(--ops "$3" --sizes "$4" --csv "$csvs/$1.$2.$3.$4.csv")
    case "$1" in
        linux) "$linux_bench" "${common[@]}" "${cell[@]}" "${args[@]}" ;;
        linux_no_ifma) "$linux_bench" "${common[@]}" --no-ifma "${cell[@]}" "${args[@]}" ;;
        windows) wine "$windows_bench" "${common[@]}" "${cell[@]}" "${args[@]}" ;;
    esac >/dev/null
}
turn=0
for ((r = 0; r < rounds; r++)); do
    for op in ${ops//,/ }; do
        for bits in ${sizes//,/ }; do
            echo "round $((r + 1)) of $rounds: $op $bits" >&2
            for ((k = 0; k < ${#builds[@]}; k++)); do
                run_build "${builds[$(((k + turn) % ${#builds[@]}))]}" "$r" "$op" "$bits"
            done
            turn=$((turn + 1))
        done
    done
done

# Rows op,bits,library,seconds,digest from every CSV, tagged with the build
# and the round, into one table of medians and ratios.
for b in "${builds[@]}"; do
    for ((r = 0; r < rounds; r++)); do
        for f in "$csvs/$b.$r".*.csv; do
            tail -n +2 "$f" | sed "s/\r$//; s/^/$b,$r,/"
        done
    done
done | awk -F, -v rounds="$rounds" '
function median(list,    n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 1; i <= n; i++)
        for (j = i + 1; j <= n; j++)
            if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}
function show(s) {
    if (s >= 1) return sprintf("%.3g s", s)
    if (s >= 1e-3) return sprintf("%.3g ms", s * 1e3)
    return sprintf("%.3g us", s * 1e6)
}
{
    cell = $3 "," $4 "," $5
    if (!(cell in seen)) { seen[cell] = 1; order[++cells] = cell }
    time[$1, $2, cell] = $6
    if ((cell, "digest") in digest && digest[cell, "digest"] != $7) bad = bad "\n  " cell " (" $1 ")"
    digest[cell, "digest"] = $7
}
END {
    printf "%-13s %6s %-11s %10s %10s %10s %9s %9s\n", "operation", "bits", "library", "linux", "no-ifma", "windows", "win/linux", "win/no-ifma"
    for (c = 1; c <= cells; c++) {
        cell = order[c]
        split(cell, part, ",")
        lt = nt = wt = r1 = r2 = ""
        for (r = 0; r < rounds; r++) {
            l = time["linux", r, cell]; n = time["linux_no_ifma", r, cell]; w = time["windows", r, cell]
            lt = lt " " l; nt = nt " " n; wt = wt " " w
            if (l > 0) r1 = r1 " " w / l
            if (n > 0) r2 = r2 " " w / n
        }
        printf "%-13s %6s %-11s %10s %10s %10s %9.2f %9.2f\n", part[1], part[2], part[3], show(median(lt)),
               show(median(nt)), show(median(wt)), median(r1), median(r2)
    }
    if (bad != "") { print "results differ between the builds in:" bad > "/dev/stderr"; exit 1 }
}'
