#!/bin/bash
# End-to-end: the user declines the upgrade at the first question.
#
#   confirm_no.sh <wfpatch.exe> <boxanswer.exe> <template prefix> [work dir]
#
# Expected: one Yes/No box without owner, captioned "Tolvane Wayfront Patch",
# asking to upgrade to 95.0.C; no progress dialog; exit code 0; drive C: left
# exactly as it was. The work dir (default: a fresh temp dir) receives the
# prefix copy, the box log and the drive C: listings; it is removed after a
# pass unless WF_KEEP=1, and the prefix copy is always removed unless WF_KEEP=1.

set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/prefix.sh"

CAPTION="Tolvane Wayfront Patch"
QUESTION="Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?"
BOX_TIMEOUT=60

if [[ $# -lt 3 || $# -gt 4 ]]; then
    echo "usage: $0 <wfpatch.exe> <boxanswer.exe> <template prefix> [work dir]" >&2
    exit 2
fi
installer=$(realpath -m "$1")
boxanswer=$(realpath -m "$2")
template=$(realpath -m "$3")
work=${4:-}
if [[ -z "$work" ]]; then
    work=$(mktemp -d /tmp/wf-confirm-no.XXXXXX)
    own_work=1
else
    rm -rf "$work"
    mkdir -p "$work"
    own_work=0
fi
work=$(realpath "$work")
prefix=$work/prefix

for f in "$installer" "$boxanswer"; do
    [[ -f "$f" ]] || { echo "FAIL: missing $f"; exit 1; }
done

failures=()
fail() { failures+=("$1"); }

cleanup() {
    wf_stop "$prefix"
    if [[ "${WF_KEEP:-0}" != 1 ]]; then
        rm -rf "$prefix"
        [[ $own_work == 1 && ${#failures[@]} -eq 0 ]] && rm -rf "$work"
    fi
}
trap cleanup EXIT

# Path, type, size, mtime and link target of everything on drive C:.
snapshot() {
    (cd "$prefix/drive_c" && find . -printf '%P\t%y %s %T@ %l\n' | LC_ALL=C sort)
}

# Paths (regexes over the listing) that Wine itself writes to on every run,
# whatever the program does. With Wine 8.0 a run of a program that only shows
# a message box leaves drive_c entirely alone -- not even directory times
# change -- so the list is empty; add to it only with a note of what Wine
# was seen doing.
VOLATILE=()
volatile() {
    if [[ ${#VOLATILE[@]} -eq 0 ]]; then
        cat
    else
        local IFS='|'
        grep -v -E "^(${VOLATILE[*]})"$'\t' || true
    fi
}

wf_clone "$template" "$prefix" || { echo "FAIL: cannot copy template prefix"; exit 1; }
snapshot > "$work/drive_c.before"

log=$work/boxes.log
t0=$(date +%s.%N)
wf_run "$prefix" -- wine "$boxanswer" "$(wf_winpath "$log")" "$BOX_TIMEOUT" \
    "$CAPTION" No "$(wf_winpath "$installer")" > "$work/wine.out" 2>&1
rc=$?
t1=$(date +%s.%N)
snapshot > "$work/drive_c.after"

echo "run took $(awk "BEGIN { printf \"%.1f\", $t1 - $t0 }") s; log: $log"
[[ -f "$log" ]] && sed 's/^/  | /' "$log"

# --- the box log ---------------------------------------------------------
if [[ ! -f "$log" ]]; then
    fail "boxanswer wrote no log (rc=$rc), wine output in $work/wine.out"
else
    grep -q '^timeout$' "$log" && fail "installer did not finish within $BOX_TIMEOUT s"
    grep -q '^error|' "$log" && fail "boxanswer: $(grep '^error|' "$log")"

    nbox=$(grep -c '^box|' "$log")
    [[ $nbox -eq 1 ]] || fail "expected exactly one message box, saw $nbox"

    box=$(grep -m1 '^box|' "$log")
    if [[ -n "$box" ]]; then
        field() { tr '|' '\n' <<<"$box" | sed -n "s/^$1=//p" | head -1; }
        text=${box#*|text=}
        [[ "$(field caption)" == "$CAPTION" ]] || fail "box caption is '$(field caption)'"
        [[ "$text" == "$QUESTION" ]] || fail "box text is '$text'"
        [[ "$(field buttons)" == YESNO ]] || fail "box buttons are '$(field buttons)', want Yes/No"
        [[ "$(field owner)" == none ]] || fail "box has an owner window '$(field owner)'"
        [[ "$(field answer)" == NO ]] || fail "box was answered '$(field answer)', not No"
        [[ "$box" == *'|unexpected|'* ]] && fail "first box was not the one scripted"
    fi

    grep -q '^status|' "$log" && fail "a progress dialog appeared: $(grep -m1 '^status|' "$log")"

    exitline=$(grep -m1 '^exit|' "$log")
    if [[ -z "$exitline" ]]; then
        fail "no exit code recorded"
    elif [[ "$exitline" != "exit|0" ]]; then
        code=${exitline#exit|}
        fail "installer exit code $code ($(printf '%#x' "$code")), want 0"
    fi
fi

# --- drive C: ------------------------------------------------------------
volatile < "$work/drive_c.before" > "$work/drive_c.before.cmp"
volatile < "$work/drive_c.after" > "$work/drive_c.after.cmp"
if ! cmp -s "$work/drive_c.before.cmp" "$work/drive_c.after.cmp"; then
    changes=$(diff "$work/drive_c.before.cmp" "$work/drive_c.after.cmp" |
        awk -F'\t' '/^[<>]/ { p = substr($1, 3); seen[p] = seen[p] substr($1, 1, 1) }
            END {
                for (p in seen) {
                    what = "removed"
                    if (seen[p] == ">") what = "created"
                    if (seen[p] == "<>") what = "changed"
                    printf "  %s C:/%s\n", what, p
                }
            }' |
        LC_ALL=C sort)
    fail "drive C: was modified:
$changes"
fi

if [[ ${#failures[@]} -eq 0 ]]; then
    echo "PASS: declining the upgrade asks once, leaves C: untouched and exits 0"
    exit 0
fi
for f in "${failures[@]}"; do
    echo "FAIL: $f"
done
echo "(work files kept in $work)"
exit 1
