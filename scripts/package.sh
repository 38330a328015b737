#!/usr/bin/env bash
# Packages: a .deb of tarnwick-cli (native build, with the server's systemd
# units) and a .zip holding
# Tarnwick.exe and tarnwick-cli.exe (win32 build), both into build/packages.
# Made from Release builds of their own (build/package-native,
# build/package-win32); the programs are stripped on the way in, the
# crash reporter's line tables are already appended to Tarnwick.exe.
#   scripts/package.sh            both
#   scripts/package.sh native     the .deb only
#   scripts/package.sh win32      the .zip only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
which=${1:-all}
jobs=$(nproc)
out="$root/build/packages"
mkdir -p "$out"

if [ "$which" = all ] || [ "$which" = native ]; then
  cmake -S . -B build/package-native -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/package-native --target tarnwick-cli -j"$jobs"
  # backup --git loads libgit2 at run time (any 1.5 to 1.9); without it
  # everything else works, so it is suggested, not required.
  (cd build/package-native &&
    cpack -G DEB -B "$out" -D CPACK_DEBIAN_PACKAGE_SUGGESTS="libgit2-1.5 | libgit2-1.6 | libgit2-1.7 | libgit2-1.8 | libgit2-1.9")
  dpkg-deb -c "$out"/tarnwick-cli_*.deb
  dpkg-deb -f "$out"/tarnwick-cli_*.deb Suggests | grep -q libgit2
  dpkg-deb -c "$out"/tarnwick-cli_*.deb | grep -q 'lib/systemd/system/tarnwick-serve.socket'
fi
if [ "$which" = all ] || [ "$which" = win32 ]; then
  cmake -S . -B build/package-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/package-win32 --target tarnwick-cli Tarnwick -j"$jobs"
  (cd build/package-win32 && cpack -G ZIP -B "$out")
  unzip -l "$out"/Tarnwick-*-win32.zip
fi
rm -rf "$out/_CPack_Packages"
