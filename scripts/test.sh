#!/usr/bin/env bash
# Builds and runs every test on a fresh Debian 12 machine: installs what is
# missing; checks that the engine reaches its scratch only through claims
# and that its layers hold;
# builds the suite twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it in both builds (the quick tier of
# the differential checks against GMP among the tests); runs the job runner's
# tests built with ThreadSanitizer; runs each fuzz target
# for a minute and a valgrind memory check (scripts/verify.sh); then cross-compiles
# the Windows program and its tests and checks them under Wine; and packs the
# Debian package and the Windows zip from those builds and checks them as
# installed (scripts/check-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh test

jobs=$(nproc)
run_suite() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== Scratch claims =="
# Every workspace number and scratch area is reached through a claim, which
# debug builds check at run time (engine/workspace.h).
scripts/workspace_table.sh --check
# The engine's modules include only their own and lower ones (engine/README.md).
scripts/layers.sh

echo "== plain build =="
run_suite build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
# ... and call only into their own and lower ones, read from the objects.
scripts/layers.sh --calls build/test

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DTORVANE_SANITIZE=ON -DTORVANE_BENCH=OFF

echo "== ThreadSanitizer build of the job runner's tests =="
# Only what runs on more than one thread: the job runner's worker, engine
# instances computing at once on threads of their own, two calculators
# computing at once, and the engine's worker pool (parallel products, a
# parallel primality test, a cancel).
cmake -S "$root" -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_TSAN=ON -DTORVANE_BENCH=OFF
cmake --build build/tsan -j "$jobs" --target test_jobs test_threads test_pool test_two_calculators
# The jobs with the engine's worker pool on (two workers), as in the window.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 TORVANE_THREADS=3 build/tsan/tests/test_jobs --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/tsan/tests/test_threads --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 TORVANE_THREADS=3 build/tsan/tests/test_two_calculators --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/tsan/tests/test_pool --gtest_brief=1

echo "== Fuzzing and the memory check =="
scripts/verify.sh quick build/test

echo "== Windows build, checked under Wine =="
scripts/test-windows.sh build/windows

echo "== The Debian package and the Windows zip =="
scripts/check-package.sh build/test build/windows/main

echo "All tests passed."
