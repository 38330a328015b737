#!/usr/bin/env bash
# The one command that checks everything on a fresh Debian 12 machine:
# installs what is missing, then builds and runs every test natively, once
# more under AddressSanitizer + UndefinedBehaviorSanitizer, and the Windows
# build under Wine (GUI tests on a private Xvfb display).
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

step "native build"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$jobs"
step "native tests"
ctest --test-dir build/native --output-on-failure -j"$jobs" --timeout 600

step "sanitizer build"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON >/dev/null
cmake --build build/asan -j"$jobs"
step "sanitizer tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j"$jobs" --timeout 900 -LE long

if [ -d tests/fuzz ]; then
  step "fuzz targets (bounded)"
  cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build/fuzz -j"$jobs" --target tarnwick_fuzzers
  ctest --test-dir build/fuzz --output-on-failure -L fuzz --timeout 300
fi

step "windows build"
scripts/wine-prefix.sh
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/win32 -j"$jobs"
step "windows tests under Wine"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" scripts/test-windows.sh build/win32

step "all tests passed"
