#!/usr/bin/env bash
# tools/soupcheck/soupcheck_cli_test.sh - the soupcheck command on a real
# database: a new one is clean at every level; one whose first page of blocks
# is zeroed is "NOT clean" and exits 1 without options, while the journal
# level alone (--level 1) cannot see that damage and says how far it looked.
# soupdefault, which makes the database, refuses options and an existing file.
# Usage: soupcheck_cli_test.sh SOUPCHECK SOUPDEFAULT
set -uo pipefail
soupcheck="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
fail() { echo "soupcheck command: $*"; exit 1; }

"$2" "$dir/good.soup" >/dev/null || fail "soupdefault failed"
# soupdefault refuses options and a file that is there, in words, touching nothing.
sum="$(sha1sum < "$dir/good.soup")"
while IFS='|' read -r args rc words; do
  out="$(cd "$dir" && "$2" $args 2>&1)"
  got=$?
  [ $got -eq "$rc" ] || fail "soupdefault $args exits $got: $out"
  grep -qF -- "$words" <<<"$out" || fail "soupdefault $args says: $out"
done <<'CASES'
--help|2|usage: soupdefault FILE
-x good2.soup|2|usage: soupdefault FILE
|2|usage: soupdefault FILE
good.soup|1|good.soup already exists
CASES
ls "$dir" | grep -qv '^good.soup$' && fail "soupdefault left files: $(ls "$dir")"
[ "$(sha1sum < "$dir/good.soup")" = "$sum" ] || fail "soupdefault changed the file that was there"
out="$("$soupcheck" "$dir/good.soup")" || fail "a new database is not clean: $out"
[ "$(tail -n 1 <<<"$out")" = clean ] || fail "a new database's verdict: $out"

# The page holding the first blocks zeroed, as far as the file goes (the
# data area starts at byte 28 of the file, its blocks at byte 8496 of it).
cp "$dir/good.soup" "$dir/bad.soup"
size="$(stat -c %s "$dir/bad.soup")"
[ "$size" -gt 8524 ] || fail "the new database holds no blocks ($size bytes)"
end=$(( size < 12288 ? size : 12288 ))
dd if=/dev/zero of="$dir/bad.soup" bs=1 seek=8192 count=$((end - 8192)) conv=notrunc status=none
[ "$(stat -c %s "$dir/bad.soup")" = "$size" ] || fail "the damaged copy changed its size"
out="$("$soupcheck" "$dir/bad.soup")"
rc=$?
[ $rc -eq 1 ] || fail "a zeroed page of blocks exits $rc: $out"
grep -q '^FINDING: ' <<<"$out" || fail "no finding for a zeroed page of blocks: $out"
[ "$(tail -n 1 <<<"$out")" = "NOT clean" ] || fail "a zeroed page of blocks' verdict: $out"
grep -qx clean <<<"$out" && fail "a zeroed page of blocks is called clean on some line: $out"

out="$("$soupcheck" --level 1 "$dir/bad.soup")" || fail "the journal level alone found faults: $out"
[ "$(tail -n 1 <<<"$out")" = "clean up to level 1 of 5" ] || fail "a lowered level's verdict: $out"
for bad in 0 6 x 2x; do
  "$soupcheck" --level "$bad" "$dir/good.soup" >/dev/null 2>&1
  rc=$?
  [ $rc -eq 2 ] || fail "--level $bad exits $rc"
done
echo "soupcheck command: ok"
