#!/usr/bin/env bash
# The same options and input give a byte-identical transcript and state.
set -eu
sim=$1
here=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for run in a b; do
    "$sim" --state "$dir/$run" --clock "2026-12-11 08:00:00" --script "$here/session.script" --quiet \
        --transcript "$dir/$run.transcript" </dev/null
done
cmp "$dir/a.transcript" "$dir/b.transcript"
for f in "$dir"/a/*; do
    python3 "$here/sparse_cmp.py" "$f" "$dir/b/$(basename "$f")"
done
echo "ok: $(wc -c <"$dir/a.transcript") transcript bytes identical"
