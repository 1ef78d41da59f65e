#!/usr/bin/env bash
# run_script.sh SIM SCRIPT: runs SCRIPT on a factory-new instrument.
# Lines of the script starting with "#! " give extra simulator options;
# "#= N" gives the exit status the run must end with (default 0).
set -u
sim=$1
script=$2
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
args=$(sed -n 's/^#! //p' "$script" | tr '\n' ' ')
want=$(sed -n 's/^#= //p' "$script" | head -1)
want=${want:-0}
# shellcheck disable=SC2086
"$sim" --state "$state/dir" --script "$script" --transcript "$state/transcript" --quiet $args \
    </dev/null >"$state/stdout" 2>"$state/stderr"
rc=$?
if [ "$rc" -ne "$want" ]; then
    echo "exit status $rc, wanted $want"
    echo "--- stderr"; cat "$state/stderr"
    echo "--- transcript (tail)"; tail -c 3000 "$state/transcript"
    exit 1
fi
exit 0
