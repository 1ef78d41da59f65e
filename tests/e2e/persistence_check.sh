#!/usr/bin/env bash
# The state directory is the instrument's battery-backed memory: a second run
# goes on where the first stopped (settings, run state, clock, hibernation),
# and a day of hibernation passes in one jump.
set -eu
sim=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
clock_count() { od -An -tu4 -j8 -N4 "$dir/state/clock.bin" | tr -d ' '; }

cat >"$dir/first.script" <<'S'
expect "EEPROM is blank: factory default settings loaded"
expect "*****Press enter to bring up main menu*****"
send "\r"
expect "Enter Selection: "
send "4\r"
expect "Sleeping... " 2
wait 1
S
"$sim" --state "$dir/state" --clock "2026-12-11 08:00:00" --script "$dir/first.script" --quiet \
    --transcript "$dir/t1" </dev/null
start=$(clock_count)
# 2026-12-11 08:00:00 is 4005964800 s after 1900-01-01.
[ "$start" -ge 4005964800 ] && [ "$start" -le 4005964805 ] || { echo "clock after first run: $start"; exit 1; }

cat >"$dir/second.script" <<'S'
wait 86400
send "\r"
expect "*****Press enter to bring up main menu*****" 2
S
"$sim" --state "$dir/state" --script "$dir/second.script" --quiet --transcript "$dir/t2" </dev/null
if grep -q -e "EEPROM is blank" -e "FRAM sys_data_chg" -e "Warning: Initialized" "$dir/t2"; then
    echo "second run did not find the stored records:"; cat "$dir/t2"; exit 1
fi
now=$(clock_count)
[ "$now" -ge $((start + 86400)) ] || { echo "clock did not run through hibernation: $start -> $now"; exit 1; }
echo "ok: clock $start -> $now"
