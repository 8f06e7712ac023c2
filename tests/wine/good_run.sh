#!/bin/bash
# End-to-end: the whole patch on the sample installation, through the
# restart, on one platform, held against winsim.
#
#   good_run.sh <wfpatch.exe> <boxanswer.exe> <template prefix> <work dir> <sample dir> <wfstate> nt|95
#
# Boot 1: the upgrade answered Yes, the restart question No; the new files
# wait beside the old ones under their replacement names, the patch
# directory is gone, the registry holds the new counts; a second run
# refuses (message 220) and changes nothing. Boot 2 (the restart): every
# file is the 95.0.C build, no replacement name is left; a run now names
# the found and the expected version (message 200). Both states must be
# what winsim makes of the same runs.
set -euo pipefail
export WF_INSTALLER=$1 WF_BOXANSWER=$2 WF_WFSTATE=$6
work=$4 sample=$5 platform=$7
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

version=$(wf_wine_version "$platform")
install_dir="Program Files/Quenmark/Wayfront"
confirm="Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?"
restart_question="Patch successful.  Windows must be restarted to complete the changes.  Would you like to restart Windows now?"

wf_scenario_start "$3"
wf_install_sample_files "$sample/before"
wf_session "version=$version" "import=$sample/before/machine.reg" \
    run=Yes,No state=patched run=OK state=second
wf_session reboot state=restarted run=OK state=final

# ---- Before the restart ---------------------------------------------------
wf_wine_state patched "$work/patched.wine"
log=$work/boxes-1.log
wf_expect_boxes "YESNO|none|$confirm" "YESNO|Tolvane Wayfront Patch|$restart_question"
wf_expect_exit_0
files=$(wf_state_section "$work/patched.wine" files)
for name in wayfront.exe wfcore.dll wfview.dll wfprint.dll wfnet.dll wfspell.dll; do
    replacement=${name%?}x
    grep -q "^program files/quenmark/wayfront/$replacement " <<<"$files" ||
        fail "no replacement $replacement beside $name"
done
grep -q '/patchb2c/' <<<"$files" && fail "the patch directory is still there"
[[ -e "$work/patched/drive_c/$install_dir/PatchB2C" ]] && fail "PatchB2C still exists"
registry=$(wf_state_section "$work/patched.wine" registry)
grep -qi '"C:\\\\Quenmark\\\\Shared\\\\qmcomm.dll"="2"' <<<"$registry" || fail "qmcomm.dll count is not 2"
grep -qi '"C:\\\\Quenmark\\\\Shared\\\\qmdraw.dll"' <<<"$registry" && fail "qmdraw.dll is still counted"
grep -qi '^\[hkey_local_machine\\software\\quenmark\\sharedusage\\qmgfx32.dll\]' <<<"$registry" ||
    fail "no usage key for the new qmgfx32.dll"
grep -qi '^\[hkey_local_machine\\software\\quenmark\\sharedusage\\qmdraw.dll\]' <<<"$registry" &&
    fail "the usage key of the last use of qmdraw.dll is still there"
grep -q '"OwnerClassName"="OIWin95Frame"' <<<"$registry" || fail "the viewer dialog key is missing"
if [[ $platform == nt ]]; then
    # Each replacement may replace its target: "!" before each destination.
    pending=$(sed -n '/^PendingFileRenameOperations/,/^\[/p' <<<"$registry" | grep ' -> ' || true)
    [[ -n "$pending" ]] || fail "no PendingFileRenameOperations"
    # shellcheck disable=SC1003 # a grep pattern: two backslashes match one
    unmarked=$(grep -v ' -> !\\??\\' <<<"$pending" | grep -v ' -> -$' || true)
    [[ -z "$unmarked" ]] || fail "a rename without '!': $(head -1 <<<"$unmarked")"
else
    grep -q 'wayfront\.exe=.*wayfront\.exx' <(wf_state_section "$work/patched.wine" wininit) ||
        fail "WININIT.INI has no [Rename] line for wayfront.exe"
fi
wf_expect_same_as_winsim patched --before "$sample/before" --platform "$platform" --run Yes,No

# A second run before the restart: message 220 and nothing else changes.
log=$work/boxes-2.log
wf_expect_boxes "OK|none|This patch has already been applied and is waiting for the machine to be restarted."
wf_wine_state second "$work/second.wine"
for section in files wininit registry; do
    cmp -s <(wf_state_section "$work/patched.wine" $section) <(wf_state_section "$work/second.wine" $section) ||
        fail "the second run changed the $section"
done

# ---- After the restart ------------------------------------------------------
wf_wine_state restarted "$work/restarted.wine"
wf_expect_model restarted "$sample/after"
restarted_files=$(wf_state_section "$work/restarted.wine" files)
[[ $platform == 95 ]] && ! grep -q '^windows/wininit.bak' <<<"$restarted_files" &&
    fail "WININIT.INI was not carried out (no wininit.bak)"
grep -q '^windows/wininit.ini' <<<"$restarted_files" && fail "WININIT.INI is still there"
grep -q 'PendingFileRenameOperations (' "$work/restarted.wine" && fail "PendingFileRenameOperations is left"

log=$work/boxes-3.log
wf_expect_boxes "OK|none|Incorrect version of Tolvane Wayfront installed ( VERSION 95.0.C ).  This patch can only be applied to VERSION 95.0.b."
wf_wine_state final "$work/final.wine"
wf_expect_same_as_winsim final --before "$sample/before" --platform "$platform" \
    --run Yes,No --run OK --restart --run OK

wf_finish "the patch on $version: replacements wait for the restart, a second run refuses, the restart installs 95.0.C; winsim agrees"
