#!/usr/bin/env bash
# The one command that checks everything on a fresh Debian 12 machine:
# installs what is missing, then builds and runs every native test under
# AddressSanitizer + UndefinedBehaviorSanitizer (the long ones in the
# optimised build), the fuzz targets, and the Windows build under Wine (GUI
# tests on a private Xvfb display).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
start=$(date +%s)
# Every real peer (danted, tinyproxy, openssl, tftpd-hpa, Wine, the display)
# is installed and started by this command, so a test that finds one missing
# fails instead of skipping: natively, under the sanitizers and under Wine.
export TARNWICK_REQUIRE_PEERS=1
step() { printf '\n=== %s (%ss)\n' "$*" "$(( $(date +%s) - start ))"; }

step "set-up"
scripts/setup-debian.sh

# Ninja schedules two cores better than make; a build folder that an older
# run made with another generator is made afresh.
configure() {
  local dir=$1; shift
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

# Every native case runs once, under AddressSanitizer + UBSan; the optimised
# build compiles the command line as it ships (optimiser warnings are errors
# too) and runs the long cases, too slow for the sanitizers.
step "sanitizer build"
configure build/asan -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON
cmake --build build/asan -j"$jobs"
step "sanitizer tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$root/tests/lsan.supp \
  ctest --test-dir build/asan --output-on-failure -j"$jobs" --timeout 900 -LE long

step "optimised build"
configure build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/native -j"$jobs" --target tarnwick-cli tarnwick_long_tests
step "long tests"
ctest --test-dir build/native --output-on-failure -j"$jobs" --timeout 600 -L long

if [ -d tests/fuzz ]; then
  step "fuzz targets (bounded)"
  configure build/fuzz -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  cmake --build build/fuzz -j"$jobs" --target tarnwick_fuzzers
  ctest --test-dir build/fuzz --output-on-failure -j"$jobs" -L fuzz --timeout 300
fi

step "windows build"
scripts/wine-prefix.sh
configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/win32 -j"$jobs"
step "windows tests under Wine"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" scripts/test-windows.sh build/win32

step "all tests passed"
