#!/usr/bin/env bash
# Installs everything Tarnwick needs to build, run and test on Debian 12:
# the native toolchain, the i686 mingw-w64 cross compiler, 32-bit Wine, Xvfb,
# Japanese fonts and locale, and the real peers the tests talk to.
# Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake make ninja-build googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev llvm
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 fonts-wine
  xvfb xauth xdotool imagemagick x11-utils fonts-noto-cjk fonts-ipafont-gothic locales
  tftpd-hpa tftp-hpa atftp busybox curl strace libgit2-dev libre2-dev pkg-config
  libwrap0 libpcre2-8-0 libnsl2 libtirpc3
  dante-server tinyproxy openssl libssl3 libssl-dev
  python3 iproute2 procps psmisc time
  dpkg-dev unzip
  chromium
)

need_install=0
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "${p}" 2>/dev/null | grep -q 'install ok installed' || { need_install=1; break; }
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ "$need_install" -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  # Package scripts must not start system daemons (tftpd-hpa, danted,
  # tinyproxy): the tests start their own on loopback high ports, and the
  # demo device wants port 69 for itself.
  policy=/usr/sbin/policy-rc.d
  restore_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod +x "$policy"
    restore_policy=1
  fi
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${packages[@]}"
  [ "$restore_policy" -eq 1 ] && "${sudo_cmd[@]}" rm -f "$policy"
fi

# atftpd, the second real TFTP server of the interop tests (it agrees to
# windowsize, tftpd-hpa does not), conflicts with the tftpd-hpa package: its
# .deb is fetched and unpacked into a folder of its own instead of being
# installed. The libraries it links are the packages listed above.
peers=/opt/tarnwick-peers
if [ ! -x "$peers/usr/sbin/atftpd" ]; then
  download=$(mktemp -d)
  chmod 755 "$download"  # apt's download user must be able to write there
  if ! (cd "$download" && apt-get download -q atftpd >/dev/null 2>&1); then
    "${sudo_cmd[@]}" apt-get update -q
    (cd "$download" && apt-get download -q atftpd)
  fi
  "${sudo_cmd[@]}" mkdir -p "$peers"
  "${sudo_cmd[@]}" dpkg -x "$download"/atftpd_*.deb "$peers"
  rm -rf "$download"
fi
if ldd "$peers/usr/sbin/atftpd" | grep -q 'not found'; then
  echo "setup-debian.sh: atftpd is missing libraries:" >&2
  ldd "$peers/usr/sbin/atftpd" | grep 'not found' >&2
  exit 1
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  "${sudo_cmd[@]}" sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi

# The SOCKS user/password test makes its account inside danted's own mount
# namespace (copies of passwd and shadow bound over the real ones), so the
# machine needs no account for it. Earlier versions of this script made a
# system account with a password file: take both away again.
# Only the account as those versions made it (no login shell) goes.
if [ "$(getent passwd tarnwick-socks | cut -d: -f7)" = /usr/sbin/nologin ]; then
  "${sudo_cmd[@]}" userdel tarnwick-socks
fi
"${sudo_cmd[@]}" rm -f /etc/tarnwick/socks-test-password
[ ! -d /etc/tarnwick ] || "${sudo_cmd[@]}" rmdir --ignore-fail-on-non-empty /etc/tarnwick
