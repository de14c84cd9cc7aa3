#!/usr/bin/env bash
# The Windows build, checked on Linux:
#   scripts/test-windows.sh [BUILD_DIR]        (default build/windows)
# 1. cross-compiles torvane.exe with mingw-w64 and checks that it needs no
#    DLL beyond Windows' own;
# 2. cross-compiles the test programs and runs each under Wine (64-bit),
#    counting their results; programs written against POSIX-only headers
#    cannot be built for Windows and are listed, not run;
# 3. opens the real dialog (torvane_probe.exe) under Wine on Xvfb, types
#    into it with xdotool and checks the answer the program itself wrote;
# 4. opens it at 96, 120, 144 and 192 DPI and checks the layouts it wrote
#    (screenshots in BUILD_DIR/dpi).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-build/windows}")
jobs=$(nproc)
toolchain=$root/cmake/mingw-w64-x86_64.cmake
mkdir -p "$out"

# GoogleTest for Windows, built once from Debian's googletest sources.
gtest=$out/googletest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$out/googletest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
    cmake --build "$out/googletest-build" -j "$jobs" >/dev/null
    cmake --install "$out/googletest-build" >/dev/null
fi

# The GMP oracle checks are not cross-compiled (no GMP for Windows); the
# values below only let the tree configure, their targets are never built.
build=$out/main
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DTORVANE_BENCH=OFF -DGTest_DIR="$gtest/lib/cmake/GTest" -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
    -DGMP_LIBRARY=not-for-windows -DGMPXX_LIBRARY=not-for-windows -DGMP_INCLUDE_DIR=not-for-windows >/dev/null

echo "-- torvane.exe"
cmake --build "$build" -j "$jobs" --target torvane torvane_probe torvane_drive
exe=$build/app/shell/win32/torvane.exe
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
for dll in $dlls; do
    case "$dll" in
        KERNEL32.DLL | USER32.DLL | GDI32.DLL | MSVCRT.DLL | ADVAPI32.DLL | SHELL32.DLL | COMCTL32.DLL) ;;
        *) echo "torvane.exe needs $dll, which Windows does not have" >&2; exit 1 ;;
    esac
done
echo "torvane.exe imports only: $(echo $dlls)"

echo "-- test programs"
mapfile -t programs < <(grep -v '^$' "$build/windows-test-programs.txt")
cmake --build "$build" -j "$jobs" --target "${programs[@]}" -- -k 0 >"$out/build-tests.log" 2>&1 || true
built=()
posix_only=()
for p in "${programs[@]}"; do
    if [ -f "$build/tests/$p.exe" ]; then
        built+=("$p")
        continue
    fi
    log=$out/build-$p.log
    cmake --build "$build" --target "$p" >"$log" 2>&1 || true
    if grep -qE "fatal error: (sys/[a-z_]+|spawn|unistd|poll|signal|pthread|dlfcn|termios)\.h: No such file" "$log"; then
        posix_only+=("$p")
    else
        cat "$log" >&2
        echo "$p does not build for Windows" >&2
        exit 1
    fi
done

export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    # Courier New is not installed; its metric twin keeps the dialog font
    # fixed-pitch instead of Wine's proportional stand-in.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /t REG_SZ /d 'Liberation Mono' /f >/dev/null 2>&1
fi
wineserver -w

results=$out/wine-results
rm -rf "$results"
mkdir -p "$results"
# The dialog's own tests open windows: they get a display of their own.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$results/display.txt" >"$results/xvfb.log" 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    [ -s "$results/display.txt" ] && break
    sleep 0.1
done
export DISPLAY=:$(head -n1 "$results/display.txt")
total=0
failed=0
bad=()
for p in "${built[@]}"; do
    # A program that wrote no results at all lost its Wine session (seen on a
    # loaded machine as "wine client error: recvmsg: Connection reset by
    # peer" before main ran): it gets one more run. Failing tests write results
    # and are never run again.
    for attempt in 1 2; do
        status=0
        (cd "$results" && timeout 900 wine "$build/tests/$p.exe" --gtest_brief=1 --gtest_output="xml:$p.xml") \
            >"$results/$p.log" 2>&1 || status=$?
        [ -s "$results/$p.xml" ] && break
        [ $attempt -eq 1 ] && echo "$p: no results (exit status $status), running it once more" >&2
    done
    tr -d '\r' <"$results/$p.log" | grep -E '^\[  (PASSED|FAILED) |FAILED|Failure' | head -20 || true
    summary=$(grep -m1 -o '<testsuites tests="[0-9]*" failures="[0-9]*"' "$results/$p.xml" 2>/dev/null || true)
    if [ -z "$summary" ]; then
        echo "$p: no results (exit status $status)" >&2
        tr -d '\r' <"$results/$p.log" | tail -20 >&2
        bad+=("$p")
        continue
    fi
    n=$(echo "$summary" | sed 's/.*tests="\([0-9]*\)".*/\1/')
    f=$(echo "$summary" | sed 's/.*failures="\([0-9]*\)".*/\1/')
    total=$((total + n))
    failed=$((failed + f))
    echo "$p: $n tests, $f failed"
    if [ "$f" -ne 0 ] || [ "$status" -ne 0 ]; then bad+=("$p"); fi
done
wineserver -w
kill $xvfb_pid 2>/dev/null || true
trap - EXIT
echo "Under Wine: ${#built[@]} test programs, $total tests, $failed failed."
if [ ${#posix_only[@]} -gt 0 ]; then
    echo "Not built for Windows (written against POSIX-only headers): ${posix_only[*]}"
fi
if [ ${#bad[@]} -gt 0 ]; then
    echo "Failing under Wine: ${bad[*]}" >&2
    exit 1
fi

echo "-- the real dialog under Wine"
"$root/tests/app/shell/real_window_check.sh" wine "$build/tests/torvane_probe.exe" "$out/real-window" \
    "$out/real-window/torvane-wine-screenshot.png"

echo "-- the dialog at 96, 120, 144 and 192 DPI under Wine"
"$root/tests/app/shell/win32/dpi_check.sh" "$build/tests/torvane_probe.exe" "$build/tests/torvane_drive.exe" "$out/dpi"
echo "Windows build checked."
