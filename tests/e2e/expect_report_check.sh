#!/usr/bin/env bash
# A failed expectation names the script line and shows the last console lines.
set -u
sim=$1
here=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$sim" --state "$dir/state" --script "$here/expect_fails.script" --quiet </dev/null 2>"$dir/err"
rc=$?
[ "$rc" -eq 1 ] || { echo "status $rc"; exit 1; }
grep -q 'script line 4: expect "this text never appears"' "$dir/err" || { cat "$dir/err"; exit 1; }
grep -q 'Press enter to bring up main menu' "$dir/err" || { cat "$dir/err"; exit 1; }
