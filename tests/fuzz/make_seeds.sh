#!/usr/bin/env bash
# Builds the seed corpus of the FAT fuzz target: small FAT12, FAT16 (in an
# MBR partition) and FAT32 volumes made by mkfs.fat and filled by mtools,
# converted to sparse inputs. Usage: make_seeds.sh FAT_FUZZ_SEED OUTDIR
set -euo pipefail
conv=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null
mkdir -p "$out"
rm -f "$out"/*.seed

head -c 1500 /dev/zero | tr '\0' 'a' > "$work/small.txt"
seq 1 300 > "$work/numbers.txt"

fill() { # image [@@offset]
    local i="$1$2"
    mmd -i "$i" ::DIR ::DIR/SUB
    mcopy -i "$i" "$work/small.txt" ::README.TXT
    mcopy -i "$i" "$work/numbers.txt" "::DIR/A long file name.txt"
    mcopy -i "$i" "$work/small.txt" ::DIR/SUB/X.BIN
}

mkfs.fat --invariant -F 12 -s 1 -C "$work/fat12.img" 360 >/dev/null
fill "$work/fat12.img" ""
"$conv" "$work/fat12.img" "$out/fat12.seed"

truncate -s $((63 * 512 + 4096 * 1024)) "$work/fat16.img"
mkfs.fat --invariant -F 16 -s 1 --offset=63 -h 63 "$work/fat16.img" 4096 >/dev/null
# One MBR partition entry (type 06, LBA 63, 8192 sectors) and the signature.
printf '\x00\xfe\xff\xff\x06\xfe\xff\xff\x3f\x00\x00\x00\x00\x20\x00\x00' |
    dd of="$work/fat16.img" bs=1 seek=446 conv=notrunc status=none
printf '\x55\xaa' | dd of="$work/fat16.img" bs=1 seek=510 conv=notrunc status=none
fill "$work/fat16.img" "@@$((63 * 512))"
"$conv" "$work/fat16.img" "$out/fat16.seed"

mkfs.fat --invariant -F 32 -s 1 -C "$work/fat32.img" 34000 >/dev/null
fill "$work/fat32.img" ""
"$conv" "$work/fat32.img" "$out/fat32.seed"

ls "$out"/*.seed | paste -sd, > "$out/seeds.list"
