#!/bin/bash
# End-to-end: the real patch.exe under Wine, on copies of the sample's
# installed 95.0.b files, with the patch data the build wrote.
#
#   patcher.sh <wfpatch.exe> <boxanswer.exe> <template prefix> <work dir> <sample dir>
#
# patch.exe is taken from beside the installer (build/dist), the patch data
# from the sample dir (sample/patch.rtp). Each case runs in a directory of
# its own on drive C:, as the installer's patch directory would be, with
# that directory as the current one.
#
# Expected: the files become the 95.0.C builds byte for byte (exit 0, one
# "patched" line each); a second run changes nothing (exit 0, "already up to
# date"); with one installed file changed, that file is left exactly as it
# was and the exit code is not 0.
set -euo pipefail
installer=$1 work=$4 sample=$5
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

patcher=$(dirname "$installer")/patch.exe
patch_data=$sample/patch.rtp
installed="$sample/before/drive_c/Program Files/Quenmark/Wayfront"
names=(wayfront.exe wfcore.dll wfview.dll wfprint.dll wfnet.dll)
for f in "$patcher" "$patch_data"; do
    [[ -f "$f" ]] || { echo "FAIL: $f was not built"; exit 1; }
done

wf_scenario_start "$3"

# new_case <dir name>: the patch directory with the old files, patch.exe and patch.rtp.
new_case() {
    dir=$prefix/drive_c/$1
    mkdir -p "$dir"
    for name in "${names[@]}"; do cp "$installed/$name" "$dir/"; done
    cp "$patcher" "$patch_data" "$dir/"
}

# run_patcher <output file>: sets $rc; the output has its CRLFs made LFs.
run_patcher() {
    local out=$1
    rc=0
    (cd "$dir" && wf_run "$prefix" -- wine patch.exe patch.rtp) >"$out.raw" 2>"$out.err" || rc=$?
    tr -d '\r' <"$out.raw" >"$out"
    echo "exit $rc:"
    sed 's/^/  | /' "$out"
}

# expect_lines <output file> <status>: one "<name>: <status>" line per file.
expect_lines() {
    local expected=""
    for name in "${names[@]}"; do expected+="$name: $2"$'\n'; done
    [[ "$(cat "$1")"$'\n' == "$expected" ]] || fail "$1: output is not one '$2' line per file"
}

expect_new_builds() {
    for name in "${names[@]}"; do
        cmp -s "$dir/$name" "$sample/pe/new/$name" || fail "$1: $name is not its 95.0.C build"
    done
}

expect_only_the_given_files() {
    local count
    count=$(find "$dir" -type f | wc -l)
    [[ $count -eq 7 ]] || fail "$1: $count files in the patch directory, want 7: $(ls "$dir")"
}

echo "== a good patch"
new_case wfpatch
run_patcher "$work/first.out"
[[ $rc -eq 0 ]] || fail "first run: exit $rc, want 0 (stderr in $work/first.out.err)"
expect_lines "$work/first.out" patched
expect_new_builds "first run"
expect_only_the_given_files "first run"

echo "== the same patch again"
run_patcher "$work/second.out"
[[ $rc -eq 0 ]] || fail "second run: exit $rc, want 0"
expect_lines "$work/second.out" "already up to date"
expect_new_builds "second run"
expect_only_the_given_files "second run"

echo "== an installed file that is not 95.0.b"
new_case wfpatch2
printf '!' >>"$dir/wfview.dll"
cp "$dir/wfview.dll" "$work/wfview.changed"
run_patcher "$work/changed.out"
[[ $rc -ne 0 ]] || fail "changed file: exit 0, want a failure"
cmp -s "$dir/wfview.dll" "$work/wfview.changed" || fail "changed file: wfview.dll was modified"
grep -q '^wfview.dll: not the version this patch is for' "$work/changed.out" ||
    fail "changed file: no refusal line for wfview.dll"
expect_only_the_given_files "changed file"

echo "== a file three windows long"
# 24 MiB with three stretches changed: xdelta3 writes 8 MiB windows, and the
# patcher holds one at a time, writing each to the temporary file as it
# goes. The patch data is laid out here byte by byte (delta/patch_data.md);
# gzip's trailer gives the CRC-32s.
dir=$prefix/drive_c/wfbig
mkdir -p "$dir"
head -c $((24 << 20)) /dev/urandom >"$dir/wfatlas.dat"
cp "$dir/wfatlas.dat" "$work/atlas.new"
for at in 1 9 17; do
    head -c 65536 /dev/urandom | dd of="$work/atlas.new" bs=1M seek=$at conv=notrunc status=none
done
xdelta3 -e -S none -f -s "$dir/wfatlas.dat" "$work/atlas.new" "$work/atlas.vcdiff"
le32() { printf '%b' "$(printf '\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"; }
crc32() { gzip -c <"$1" | tail -c8 | od -An -tu4 -N4 | tr -d ' '; }
{
    le32 "$(stat -c %s "$dir/wfatlas.dat")"; le32 "$(crc32 "$dir/wfatlas.dat")"
    le32 "$(stat -c %s "$work/atlas.new")"; le32 "$(crc32 "$work/atlas.new")"
    le32 "$(stat -c %s "$work/atlas.vcdiff")"; printf '\x0b\x00\x00\x00wfatlas.dat'
    cat "$work/atlas.vcdiff"
} >"$work/atlas.entry"
{ printf 'RTP\x1a\x01\x00\x01\x00'; le32 "$(crc32 "$work/atlas.entry")"; cat "$work/atlas.entry"; } >"$dir/patch.rtp"
cp "$patcher" "$dir/"
run_patcher "$work/big.out"
[[ $rc -eq 0 ]] || fail "large file: exit $rc, want 0"
[[ "$(cat "$work/big.out")" == "wfatlas.dat: patched" ]] || fail "large file: not one 'patched' line"
cmp -s "$dir/wfatlas.dat" "$work/atlas.new" || fail "large file: wfatlas.dat is not its new version"
[[ $(find "$dir" -type f | wc -l) -eq 3 ]] || fail "large file: files left beside it: $(ls "$dir")"
rm -f "$dir/wfatlas.dat" "$work/atlas.new" "$work/atlas.vcdiff" "$work/atlas.entry"

wf_finish "patch.exe turns the 95.0.b files into the 95.0.C builds, once, refuses a changed file, and patches a file three windows long"
