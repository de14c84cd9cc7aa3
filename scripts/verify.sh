#!/usr/bin/env bash
# Verification beyond the unit tests: fuzzing, the memory check, and the
# long tier of the differential checks against GMP. (The quick tier of the
# differential checks runs under CTest in both builds of scripts/test.sh.)
#
#   verify.sh quick BUILD_DIR   what scripts/test.sh runs after its builds:
#                               each fuzz target for 60 seconds from the
#                               corpus in tests/verify/fuzz/corpus, and the
#                               valgrind memcheck of a torvane-headless
#                               session (BUILD_DIR holds the plain build)
#   verify.sh fuzz SECONDS      each fuzz target for SECONDS, one after the
#                               other, with its findings kept in build/fuzz-runs
#   verify.sh long [SEED]       the long tier: millions of engine cases and
#                               200,000 calculator cases, seeded (default: the
#                               current time), in build/verify-long
#   verify.sh memcheck BUILD_DIR   the memory check alone
#
# Any crash, leak, sanitizer report, stuck input (60 s for one input), wrong
# result or memcheck error ends the script with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

build_fuzzers() {
    cmake -S "$root/tests/verify/fuzz" -B "$root/build/fuzz" -G Ninja \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build "$root/build/fuzz" -j "$jobs"
}

# fuzz_one TARGET SECONDS WORKDIR: runs one target from the kept corpus; new
# inputs go to WORKDIR, never into the repository.
fuzz_one() {
    local target=$1 seconds=$2 work=$3 max_len
    case "$target" in
        cinstr) max_len=70000 ;;
        field) max_len=20000 ;;
        headless) max_len=1024 ;;
    esac
    mkdir -p "$work/$target"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$root/build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=60 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$work/$target-" \
        "$work/$target" "$root/tests/verify/fuzz/corpus/$target" > "$work/$target.log" 2>&1
}

fuzz_report() {
    local work=$1 target
    for target in cinstr field headless; do
        printf '  fuzz_%-9s %s, %s\n' "$target" \
            "$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/$target.log" | grep -o '[0-9]*$') executions" \
            "$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/$target.log" | tail -1)"
    done
}

memcheck() {
    local build=$1 log
    log=$(mktemp)
    echo "== memcheck: torvane-headless, every button in every base =="
    # The session holds bad lines on purpose, so that the error path is
    # checked too: torvane-headless then ends with status 1.
    local status=0
    valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
        --log-file="$log" "$build/app/shell/headless/torvane-headless" \
        < "$root/tests/verify/memcheck_session.txt" > /dev/null 2>&1 || status=$?
    if [ "$status" -ne 1 ]; then
        cat "$log"
        echo "memcheck failed (exit status $status)"
        exit 1
    fi
    if [ -s "$log" ]; then
        cat "$log"
        echo "memcheck reported errors"
        exit 1
    fi
    rm -f "$log"
    echo "memcheck: no invalid access, no leak"
}

case "${1:-}" in
    quick)
        build=${2:?usage: verify.sh quick BUILD_DIR}
        echo "== fuzz targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer), 60 s each =="
        build_fuzzers
        work=$(mktemp -d)
        status=0
        # The three run side by side: a minute in all.
        fuzz_one cinstr 60 "$work" & p1=$!
        fuzz_one field 60 "$work" & p2=$!
        fuzz_one headless 60 "$work" & p3=$!
        for p in $p1 $p2 $p3; do wait "$p" || status=1; done
        fuzz_report "$work"
        if [ $status -ne 0 ]; then
            for t in cinstr field headless; do tail -40 "$work/$t.log"; done
            ls "$work"/*-* 2>/dev/null || true
            echo "fuzzing found a fault; the inputs are in $work"
            exit 1
        fi
        rm -rf "$work"
        memcheck "$build"
        ;;
    fuzz)
        seconds=${2:?usage: verify.sh fuzz SECONDS}
        build_fuzzers
        work="$root/build/fuzz-runs"
        mkdir -p "$work"
        for t in cinstr field headless; do
            echo "== fuzz_$t for $seconds s =="
            fuzz_one "$t" "$seconds" "$work" || { tail -40 "$work/$t.log"; exit 1; }
        done
        fuzz_report "$work"
        ;;
    long)
        seed=${2:-$(date +%s)}
        cmake -S "$root" -B "$root/build/verify-long" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DTORVANE_BENCH=OFF > /dev/null
        cmake --build "$root/build/verify-long" -j "$jobs" --target torvane_oracle torvane_calc_oracle
        bin="$root/build/verify-long/tests/verify"
        echo "== long tier, seed $seed =="
        start=$(date +%s)
        # Two processes side by side: the engine families, then the calculator.
        "$bin/torvane_oracle" --family primitives,text,muldiv --cases 1000000 --seed "$seed" & p1=$!
        "$bin/torvane_oracle" --family powers,gcd,montgomery,modexp,primality --cases 250000 --seed "$seed" & p2=$!
        status=0
        wait $p1 || status=1
        wait $p2 || status=1
        "$bin/torvane_calc_oracle" --cases 200000 --seed "$seed" || status=1
        echo "long tier: $(( $(date +%s) - start )) s, seed $seed"
        exit $status
        ;;
    memcheck)
        memcheck "${2:?usage: verify.sh memcheck BUILD_DIR}"
        ;;
    *)
        sed -n '2,18p' "$0"
        exit 2
        ;;
esac
