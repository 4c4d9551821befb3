#!/usr/bin/env bash
# scripts/wine-run without a display: a GUI program is shown, caught and ended
# instead of running for ever, and a 64-bit program runs through wine64. The
# 64-bit demo is patched by the console tool with rules for 64-bit images only,
# and its window title shows which rules reached it.
# Usage: wine_run_test.sh DEMO32.EXE DEMO64.EXE PIVRA-CLI.EXE
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
demo32=$1 demo64=$2 cli=$3
# The copies below lie outside the build tree; without this each run would make
# a Wine prefix of its own beside them.
export PIVRA_WINE_BUILD_DIR=$(cd "$(dirname "$demo32")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# The UTF-16LE bytes of a text as a grep -P pattern.
utf16() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ' ' | sed 's/ *$//; s/ /\\x/g'; }
holds() { LC_ALL=C grep -qaP "$(utf16 "$2")" "$1"; }
# Bounded, so that a run that hangs fails instead of stopping the suite.
shot() { env -u DISPLAY timeout 120 "$root/scripts/wine-run" --screenshot "$@"; }

# A relative prefix folder is taken from where the runner stands.
(cd "$(dirname "$PIVRA_WINE_BUILD_DIR")" &&
  PIVRA_WINE_BUILD_DIR=$(basename "$PIVRA_WINE_BUILD_DIR") env -u DISPLAY timeout 120 "$root/scripts/wine-run" \
    "$cli" --help >/dev/null) || fail "a relative PIVRA_WINE_BUILD_DIR: exit $?"

cp "$demo32" "$work/demo_target.exe"
cp "$demo64" "$work/demo_target64.exe"
"$root/scripts/demo-rule-set" "$(winpath "$work/demo_target64.exe")" "$work/demo64.ini" "$root/demo/demo64.ini.utf8"

out=$(shot "$work/before.png" "$work/demo_target.exe") || fail "32-bit demo: exit $?: $out"
grep -qx 'window: Pivra Demo Target' <<<"$out" || fail "32-bit demo: $out"
[ "$(head -c 8 "$work/before.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "no PNG saved"

# Rules 1-6 are for 64-bit images only, rule 7 for 32-bit ones only.
env -u DISPLAY "$root/scripts/wine-run" "$cli" apply "$(winpath "$work/demo64.ini")" "$(winpath "$work/demo_target64.exe")" \
  "$(winpath "$work/demo_target.exe")" --log "$(winpath "$work/pivra.log")" >/dev/null ||
  fail "apply exit $?: some rule did not change its target"
holds "$work/demo_target64.exe" 'Pivra 演示目标（64 位）' || fail "64-bit demo lacks its title"
holds "$work/demo_target.exe" 'Pivra 演示目标（32 位）' || fail "32-bit demo lacks its title"
holds "$work/demo_target.exe" 'Welcome to the demo program' || fail "a 64-bit rule changed the 32-bit demo"
! holds "$work/demo_target64.exe" 'Welcome to the demo program' || fail "the 64-bit demo kept its greeting"

out=$(shot "$work/after64.png" "$work/demo_target64.exe") || fail "64-bit demo: exit $?: $out"
grep -qx 'window: Pivra 演示目标（64 位）' <<<"$out" || fail "patched 64-bit demo: $out"

# A program that ends by itself before showing a window is reported, not waited for.
if out=$(shot "$work/none.png" "$cli" list "$(winpath "$work/demo64.ini")" 2>&1); then fail "console program taken for a window: $out"; fi
grep -q 'ended (exit code 0) before it showed a window' <<<"$out" || fail "console program: $out"
echo "wine-run: ok"
