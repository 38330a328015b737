#!/usr/bin/env bash
# Creates the Wine prefix once: win32, Wine's own fonts copied in (this Wine
# does not find them otherwise), Japanese font mapping, virtual desktop, no
# crash dialog. The registry settings are imported again whenever their file
# has changed, so an existing prefix follows them.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
settings="$TARNWICK_ROOT/scripts/wine/prefix.reg.utf8"
stamp="$WINEPREFIX/.tarnwick-ready"
wanted=$(sha256sum "$settings" | cut -d' ' -f1)
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ] && exit 0
if [ ! -f "$stamp" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi
reg="$WINEPREFIX/tarnwick.reg"
{ printf '\xff\xfe'; sed 's/$/\r/' "$settings" | iconv -f UTF-8 -t UTF-16LE; } > "$reg"
wine regedit /S "$reg" >/dev/null 2>&1
wineserver -w
echo "$wanted" > "$stamp"
