# Sourced by the scripts that run Windows code: one 32-bit Wine prefix per
# checkout (or per TARNWICK_WINEPREFIX), Japanese locale, quiet logging.
: "${TARNWICK_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export WINEPREFIX="${TARNWICK_WINEPREFIX:-$TARNWICK_ROOT/build/wineprefix}"
export WINEARCH=win32
export LANG=ja_JP.UTF-8
export WINEDEBUG="${WINEDEBUG:--all,err+module}"
export WINEDLLOVERRIDES="mscoree,mshtml="
