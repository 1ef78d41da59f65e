#!/usr/bin/env bash
# Flash, SRAM and stack budgets of the firmware image against the chip:
# 256 KiB flash, 32 KiB SRAM, 4 KiB stack. Exits non-zero when one is
# exceeded.
#   tools/budgets.sh [build/tm4c123]
set -euo pipefail

dir=${1:-build/tm4c123}
elf=$dir/marivant-firmware.elf
map=$dir/marivant-firmware.map
tools=${MARIVANT_TOOLS_PREFIX:-arm-none-eabi-}
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -f "$elf" ] || [ ! -f "$map" ]; then
    echo "budgets: $elf or its map is missing; build the tm4c123 preset first" >&2
    exit 2
fi

FLASH_BYTES=$((256 * 1024))
SRAM_BYTES=$((32 * 1024))
STACK_BYTES=4096
SRAM_BASE=$((0x20000000))

# Flash holds every allocated section with contents (code, constants and
# the initial values of .data); SRAM is used from its base up to the end of
# the last section placed there, the stack included.
read -r flash sram < <("${tools}readelf" -SW "$elf" | awk -v base="$SRAM_BASE" '
    function hex(s,   i, n, c) {
        n = 0; s = tolower(s)
        for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
        return n
    }
    /^ *\[ *[0-9]+\]/ {
        sub(/^ *\[ *[0-9]+\] */, "")
        type = $2; addr = hex($3); size = hex($5); flags = $7
        if (flags !~ /A/) next
        if (type != "NOBITS") flash += size
        if (addr >= base && addr + size - base > sram) sram = addr + size - base
    }
    END { printf "%d %d\n", flash, sram }')

status=0
report() {  # name used limit
    local pct
    pct=$(awk -v u="$2" -v l="$3" 'BEGIN { printf "%.1f", 100 * u / l }')
    if [ "$2" -gt "$3" ]; then
        printf '%-6s %7d of %7d bytes (%s%%)  OVER BUDGET\n' "$1:" "$2" "$3" "$pct"
        status=1
    else
        printf '%-6s %7d of %7d bytes (%s%%)\n' "$1:" "$2" "$3" "$pct"
    fi
}

echo "Budgets of $elf"
report flash "$flash" "$FLASH_BYTES"
report sram "$sram" "$SRAM_BYTES"
python3 "$here/stack_usage.py" --elf "$elf" --map "$map" --build "$dir" --stack "$STACK_BYTES" \
    --tools "$tools" || status=1
exit $status
