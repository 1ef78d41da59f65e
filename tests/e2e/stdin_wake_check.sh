#!/usr/bin/env bash
# The console on standard input, paced to the wall clock, as `make run` runs
# it: keys are typed only after the prompt they answer has appeared, and a
# key typed while the instrument hibernates wakes it.
set -u
sim=$1
dir=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$dir"' EXIT
mkfifo "$dir/in"
"$sim" --rt --state "$dir/state" --until 30 <"$dir/in" >"$dir/out" 2>&1 &
pid=$!
exec 3>"$dir/in"

# Waits (at most 5 s) until the console output holds TEXT N times.
wait_for() {
    local text=$1 count=${2:-1}
    for _ in $(seq 500); do
        [ "$(grep -aoF -- "$text" "$dir/out" | wc -l)" -ge "$count" ] && return 0
        kill -0 $pid 2>/dev/null || break
        sleep 0.01
    done
    echo "never saw \"$text\" ($count times); output:"; cat -A "$dir/out" | tail -20
    exit 1
}

wait_for "Press enter to bring up main menu"
printf '\r' >&3
wait_for "Enter Selection: "
printf '4\r' >&3
wait_for "Sleeping... "
printf 'x' >&3
wait_for "Press enter to bring up main menu" 2
echo ok
