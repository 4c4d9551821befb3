#!/usr/bin/env bash
# scripts/lay-out-tool, which scripts/run uses: a fresh layout, then a reset over
# a tool directory a translator has worked in.
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
utf8() { if [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' ')" = fffe ]; then tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8; else iconv -f CP936 -t UTF-8 "$1"; fi | tr -d '\r'; }

build=$work/build
mkdir -p "$build/src/app" "$build/demo"
echo tool-v1 > "$build/src/app/pivra.exe"
echo demo32 > "$build/demo/demo_target.exe"
echo demo64 > "$build/demo/demo_target64.exe"
tool=$work/tool

"$scripts/lay-out-tool" "$tool" "$build"
[ "$(utf8 "$tool/Pivra.ini")" = "$(printf '[Config]\n1=demo\n2=demo64')" ] || fail "fresh catalogue: $(utf8 "$tool/Pivra.ini")"
utf8 "$tool/demo64.ini" | grep -qx 'FILE=Z:.*\\tool\\demo_target64.exe' || fail "demo64 FILE"
cmp -s "$tool/demo_target.exe" "$build/demo/demo_target.exe" || fail "fresh demo target"

# A translator's work: the demo patched and edited, a set of their own added
# before the demo's names, remarks, a log, a file of their own.
echo patched > "$tool/demo_target.exe"
echo edited > "$tool/demo.ini"
rm "$tool/demo64.ini"
printf '\xff\xfe' > "$tool/Pivra.ini"
printf '[Config]\r\n1=viewer\r\n2=demo\r\n3=编辑器\r\n' | iconv -f UTF-8 -t UTF-16LE >> "$tool/Pivra.ini"
for f in viewer.ini viewer.txt 编辑器.ini pivra.log notes.md; do echo "mine $f" > "$tool/$f"; done
mkdir "$tool/old"; echo kept > "$tool/old/a.exe"
(cd "$tool" && find . -type f ! -name 'demo*' ! -name Pivra.ini ! -name pivra.exe | sort | xargs md5sum) > "$work/mine.md5"

# Without --reset nothing of the translator's changes; a missing demo set comes back and is listed.
"$scripts/lay-out-tool" "$tool" "$build"
[ "$(cat "$tool/demo_target.exe")" = patched ] || fail "plain run replaced the patched target"
[ "$(cat "$tool/demo.ini")" = edited ] || fail "plain run replaced the edited rule set"
[ "$(utf8 "$tool/Pivra.ini")" = "$(printf '[Config]\n1=viewer\n2=demo\n3=编辑器\n4=demo64')" ] ||
  fail "plain run catalogue: $(utf8 "$tool/Pivra.ini")"

echo tool-v2 > "$build/src/app/pivra.exe"
"$scripts/lay-out-tool" --reset "$tool" "$build"
(cd "$tool" && md5sum -c --quiet "$work/mine.md5") || fail "reset changed the translator's files"
[ -f "$tool/old/a.exe" ] || fail "reset removed a folder"
cmp -s "$tool/demo_target.exe" "$build/demo/demo_target.exe" || fail "reset left the patched target"
cmp -s "$tool/demo_target64.exe" "$build/demo/demo_target64.exe" || fail "reset 64-bit target"
[ "$(cat "$tool/pivra.exe")" = tool-v2 ] || fail "the new build of the tool is not in place"
utf8 "$tool/demo.ini" | grep -qx 'CN=欢迎使用演示程序' || fail "reset left the edited rule set"
[ "$(utf8 "$tool/Pivra.ini")" = "$(printf '[Config]\n1=viewer\n2=demo\n3=编辑器\n4=demo64')" ] ||
  fail "reset catalogue: $(utf8 "$tool/Pivra.ini")"

# A catalogue that cannot be read as its encoding is left alone and said so.
printf '\xff\xfe\x00\xd8' > "$tool/Pivra.ini"
rm "$tool/demo.ini"
if "$scripts/lay-out-tool" "$tool" "$build" 2>/dev/null; then fail "unreadable catalogue accepted"; fi
[ "$(od -An -tx1 "$tool/Pivra.ini" | tr -d ' ')" = fffe00d8 ] || fail "unreadable catalogue rewritten"
echo "lay-out-tool: ok"
