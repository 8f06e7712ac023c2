#!/bin/bash
# End-to-end: on the sample installation the user declines the upgrade at
# the first question.
#
#   confirm_no.sh <wfpatch.exe> <boxanswer.exe> <template prefix> <work dir> <sample dir>
#
# Expected: one Yes/No box without owner asking to upgrade to 95.0.C; no
# progress dialog; exit code 0; drive C: left exactly as it was.
set -euo pipefail
work=$4
sample=$5
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Path, type, size, mtime and link target of everything on drive C:.
snapshot() {
    (cd "$prefix/drive_c" && find . -printf '%P\t%y %s %T@ %l\n' | LC_ALL=C sort)
}

wf_scenario_start "$3"
wf_install_sample_files "$sample/before"
snapshot > "$work/drive_c.before"
wf_run_installer "$1" "$2" No "$sample/before/machine.reg"
snapshot > "$work/drive_c.after"

wf_expect_boxes "YESNO|none|Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?"
wf_expect_no_progress_dialog
wf_expect_exit_0

# With Wine 8.0 a run that only shows a message box leaves drive C: wholly
# alone, not even a directory's time changes, so nothing is excluded here.
if ! cmp -s "$work/drive_c.before" "$work/drive_c.after"; then
    fail "drive C: was modified:
$(diff "$work/drive_c.before" "$work/drive_c.after" | grep '^[<>]' | cut -f1)"
fi

wf_finish "declining the upgrade asks once, leaves C: untouched and exits 0"
