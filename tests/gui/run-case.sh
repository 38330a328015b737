#!/usr/bin/env bash
# Runs one end-to-end case against the real program under Wine.
# Usage: run-case.sh <case> <Tarnwick.exe> <wgettext.exe>
# Needs a display (xvfb-run -a) and the Wine prefix of scripts/wine-env.sh.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
[ $# -eq 3 ] || { echo "usage: $0 <case> <Tarnwick.exe> <wgettext.exe>" >&2; exit 2; }
case_name="$1"
[ -n "${WINEPREFIX:-}" ] || source "$here/../../scripts/wine-env.sh"
export LANG=ja_JP.UTF-8
source "$here/gui-lib.sh"
source "$here/receive-cases.sh"
source "$here/send-cases.sh"
source "$here/window-cases.sh"
declare -F "case_$case_name" >/dev/null || { echo "unknown case: $case_name" >&2; exit 2; }
gui_init "$2" "$3"
"case_$case_name"
echo "PASS: $case_name"
