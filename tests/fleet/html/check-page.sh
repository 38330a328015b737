#!/bin/sh
# usage: check-page.sh FLEET_NIGHTLY_TESTS WORK_DIR. Headless chromium loads the page HtmlReport.SamplePage
# writes: no console message (a blocked script or load logs one), the totals and one row per device in its
# DOM, a phone-sized screenshot.
set -eu
tests=$1 work=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

if ! command -v chromium >/dev/null 2>&1; then
  if [ "${TARNWICK_REQUIRE_PEERS:-}" = 1 ]; then
    fail "missing peer (TARNWICK_REQUIRE_PEERS=1): chromium is not installed"
  fi
  echo "SKIP: chromium is not installed" >&2
  exit 77
fi

rm -rf "$work" && mkdir -p "$work"
page=$work/page.html
TARNWICK_HTML_PAGE=$page "$tests" --gtest_filter=HtmlReport.SamplePage >"$work/gtest.log" 2>&1 ||
  fail "the sample page test failed: $(cat "$work/gtest.log")"
[ -s "$page" ] || fail "no page written"

# Each run gets a profile of its own; timeout bounds a browser that hangs.
run=0
browse() {
  run=$((run + 1))
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile$run" "$@" "file://$page"
}

browse --enable-logging=stderr --v=0 --dump-dom >"$work/dom.html" 2>"$work/console.log" ||
  fail "chromium could not load the page: $(tail -5 "$work/console.log")"
! grep -n 'CONSOLE' "$work/console.log" >&2 || fail "the page logged to the console"

dom=$work/dom.html
grep -q '<li><b>5</b> devices</li>' "$dom" || fail "the device total is not on the page"
rows=$(grep -o '<tr class="device ' "$dom" | wc -l)
[ "$rows" -eq 5 ] || fail "$rows device rows instead of 5"
for name in 'core-1' 'edge-2' '&lt;script&gt;console.error' 'wan"3' 'lab-5'; do
  grep -qF "$name" "$dom" || fail "device $name has no row"
done
grep -q '<script' "$dom" && fail "a device text became a script element"
# The diff's SNMP community changed: the page says so, by two different digests, and shows neither value.
grep -qE '0ldC0mm|N3wC0mm' "$dom" && fail "a secret of the diff is on the page"
tags=$(grep -oE 'community &lt;secret:[0-9a-f]{6}&gt; RO' "$dom" | sort -u | wc -l)
[ "$tags" -eq 2 ] || fail "$tags masked communities instead of 2 different ones"

shot=$work/page.png
browse --screenshot="$shot" --window-size=390,1400 >"$work/screenshot.log" 2>&1 ||
  fail "chromium took no screenshot: $(tail -5 "$work/screenshot.log")"
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$shot is not a PNG"
echo "page, DOM and screenshot in $work"
