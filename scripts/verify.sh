#!/usr/bin/env bash
# Verification beyond the unit tests: fuzzing, the memory check, and the
# long tier of the differential checks against GMP. (The quick tier of the
# differential checks runs under CTest in both builds of scripts/test.sh.)
#
#   verify.sh quick BUILD_DIR   what scripts/test.sh runs after its builds:
#                               each fuzz target for 60 seconds, and the
#                               valgrind memcheck of a torvane-headless
#                               session (BUILD_DIR holds the plain build)
#   verify.sh fuzz SECONDS      each fuzz target for SECONDS, the five side
#                               by side, with their findings kept in
#                               build/fuzz-runs
#   verify.sh long [SEED]       the long tier: millions of engine cases,
#                               200,000 calculator cases and 100,000 cases of
#                               the expression line, seeded (default: the
#                               current time), in build/verify-long
#   verify.sh memcheck BUILD_DIR   the memory check alone
#
# Every fuzz run takes inputs up to the target's real limit (-max_len). Half
# its time starts from the small corpus in tests/verify/fuzz/corpus, with
# libFuzzer's length cap growing from short inputs; the other half adds the
# seeds of the largest sizes each target must take (65530-bit numbers in
# every base, a 65531-character field, scripts typing such operands),
# written afresh by the make_seeds program of the fuzz build, and runs
# with -len_control=0, every length from the start.
#
# Any crash, leak, sanitizer report, stuck input (60 s for one input), wrong
# result or memcheck error ends the script with a non-zero status.
# TORVANE_FUZZ_BUILD names another folder for the fuzz build (default
# build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

fuzz_build=${TORVANE_FUZZ_BUILD:-$root/build/fuzz}
targets="cinstr field headless session expression"

build_fuzzers() {
    cmake -S "$root/tests/verify/fuzz" -B "$fuzz_build" -G Ninja \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build "$fuzz_build" -j "$jobs"
    rm -rf "$fuzz_build/seeds"
    mkdir -p "$fuzz_build/seeds/cinstr" "$fuzz_build/seeds/field" "$fuzz_build/seeds/headless" \
        "$fuzz_build/seeds/session" "$fuzz_build/seeds/expression"
    "$fuzz_build/make_seeds" "$fuzz_build/seeds"
}

# The longest input each target takes: fuzz_cinstr reads at most 70000
# bytes; a field takes 65531 characters after its two bytes of base and
# field, and one more reaches the refusal of a longer paste; a script may
# type five operands at that limit amid a kilobyte of other commands; a
# session of a dozen entries of the longest values (the reader's own cap,
# 4 MiB, is checked by test_session); the expression line takes a megabyte
# after its byte of base, and one more byte reaches the refusal of a longer
# text.
max_len_of() {
    case "$1" in
        cinstr) echo 70000 ;;
        field) echo 65534 ;;
        headless) echo 330000 ;;
        session) echo 200000 ;;
        expression) echo 1048578 ;;
    esac
}

# run_fuzzer TARGET SECONDS WORKDIR LEN_CONTROL PHASE [SEEDS]: one libFuzzer
# run from the kept corpus (and the seeds); new inputs go to WORKDIR, never
# into the repository.
run_fuzzer() {
    local target=$1 seconds=$2 work=$3 len_control=$4 phase=$5 seeds=${6:-}
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$fuzz_build/fuzz_$target" -max_total_time="$seconds" -max_len="$(max_len_of "$target")" \
        -len_control="$len_control" -timeout=60 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$work/$target-" "$work/$target" "$root/tests/verify/fuzz/corpus/$target" \
        $seeds > "$work/$target.$phase.log" 2>&1
}

# fuzz_one TARGET SECONDS WORKDIR: half the time from the small corpus with
# the length cap growing (libFuzzer's default), where short inputs run
# fast; then half with the seeds of the largest sizes and every length up
# to the limit allowed at once.
fuzz_one() {
    local target=$1 seconds=$2 work=$3
    local half=$(( seconds / 2 ))
    mkdir -p "$work/$target"
    run_fuzzer "$target" "$half" "$work" 100 grow &&
        run_fuzzer "$target" "$(( seconds - half ))" "$work" 0 full "$fuzz_build/seeds/$target"
}

# fuzz_all SECONDS WORKDIR: the targets side by side; a report of
# each, and on a fault the end of its logs.
fuzz_all() {
    local seconds=$1 work=$2 status=0 pids="" p target
    for target in $targets; do
        fuzz_one "$target" "$seconds" "$work" &
        pids="$pids $!"
    done
    for p in $pids; do wait "$p" || status=1; done
    fuzz_report "$work"
    if [ $status -ne 0 ]; then
        for target in $targets; do tail -n 40 "$work/$target".*.log; done
        ls "$work"/*-* 2>/dev/null || true
        echo "fuzzing found a fault; the inputs are in $work"
    fi
    return $status
}

# Executions of both halves; the length cap the growing half reached; the
# longest input the run added to its corpus, and the longest seed.
fuzz_report() {
    local work=$1 target runs cap longest seed
    for target in $targets; do
        runs=$(cat "$work/$target".*.log 2>/dev/null | grep -o 'stat::number_of_executed_units: [0-9]*' |
            awk '{ n += $2 } END { print n + 0 }' || true)
        cap=$(grep -o 'lim: [0-9]*' "$work/$target.grow.log" 2>/dev/null | tail -1 | grep -o '[0-9]*$' || true)
        longest=$(find "$work/$target" -type f -printf '%s\n' 2>/dev/null | sort -n | tail -1 || true)
        seed=$(find "$fuzz_build/seeds/$target" -type f -printf '%s\n' 2>/dev/null | sort -n | tail -1 || true)
        printf '  fuzz_%-9s %s executions; length cap %s bytes when growing; longest new input %s bytes, longest seed %s bytes; %s\n' \
            "$target" "$runs" "${cap:-?}" "${longest:-0}" "${seed:-0}" \
            "$(cat "$work/$target.grow.log" "$work/$target.full.log" 2>/dev/null | grep -o 'cov: [0-9]* ft: [0-9]*' |
                tail -1 || true)"
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
        # The five run side by side: a minute in all.
        fuzz_all 60 "$work" || exit 1
        rm -rf "$work"
        memcheck "$build"
        ;;
    fuzz)
        seconds=${2:?usage: verify.sh fuzz SECONDS}
        build_fuzzers
        work="$root/build/fuzz-runs"
        mkdir -p "$work"
        echo "== fuzz targets side by side, $seconds s each =="
        fuzz_all "$seconds" "$work" || exit 1
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
        "$bin/torvane_calc_oracle" --expressions --cases 100000 --seed "$seed" || status=1
        echo "long tier: $(( $(date +%s) - start )) s, seed $seed"
        exit $status
        ;;
    memcheck)
        memcheck "${2:?usage: verify.sh memcheck BUILD_DIR}"
        ;;
    *)
        sed -n '2,29p' "$0"
        exit 2
        ;;
esac
