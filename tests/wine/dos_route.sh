#!/bin/bash
# End-to-end: the installer's PIF route, for real. The variant of the
# Wayfront patch whose patcher is a DOS program (sample/wayfront-dos.patch)
# runs under Wine, which reads the installer's PIF and starts the program
# in DOSBox. On one platform:
#
#   dos_route.sh <wfpatch.exe> <boxanswer.exe> <template prefix> <work dir> <sample dir> <wfstate>
#                nt|95 <wfpatch-dos.exe> <dospatch twin>
#
# Boot 1: a run answered No changes nothing and starts no patcher; a run
# answered Yes and No patches through the PIF: the DOS patcher finds the
# PIF while it runs, with the program's name at offset 36 and the short
# patch directory at offset 101, and replaces the five staged files; the
# progress dialog answers every ping while DOSBox runs; the PIF and the
# patch directory are gone afterwards. Boot 2 (the restart): the machine is
# the builder's model of the variant (sample/after-dos). winsim, with the
# patcher's host twin, ends in the same states.
set -euo pipefail
export WF_BOXANSWER=$2 WF_WFSTATE=$6 BOXANSWER_PINGS=1
work=$4 sample=$5 platform=$7
export WF_INSTALLER=$8
twin=$9
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

version=$(wf_wine_version "$platform")
command -v dosbox >/dev/null || { echo "FAIL: dosbox is not installed (scripts/deps.sh installs it)"; exit 1; }
dos_log='C:\DOSPATCH.LOG'
# The start-up directory is the patch directory's short form: Wine makes
# up the short name of "Program Files" from a hash of the long one
# (PROG~FBU, where Windows on FAT says PROGRA~1), so only its shape is
# fixed here.
pif_line='^pif dospatch\.exe C:\\[A-Z0-9_]{1,6}~[A-Z0-9]{1,3}\\Quenmark\\Wayfront\\PatchB2C\\$'

wf_scenario_start "$3"
wf_install_sample_files "$sample/before"
SECONDS=0
wf_session "version=$version" "import=$sample/before/machine.reg" state=start run=No state=declined \
    run=Yes,No state=patched
wf_session reboot state=final
echo "both sessions took ${SECONDS} s"

# ---- Answered No: nothing changes, nothing runs ----------------------------
log=$work/boxes-1.log
wf_expect_boxes "YESNO|none|Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?"
wf_wine_state start "$work/start.wine"
wf_wine_state declined "$work/declined.wine"
for section in files registry; do
    cmp -s <(wf_state_section "$work/start.wine" $section) <(wf_state_section "$work/declined.wine" $section) ||
        fail "the run answered No changed the $section"
done

# ---- Answered Yes: the PIF route ---------------------------------------------
log=$work/boxes-2.log
wf_expect_boxes "YESNO|none|Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?" \
    "YESNO|Tolvane Wayfront Patch|Patch successful.  Windows must be restarted to complete the changes.  Would you like to restart Windows now?"
host_log=$(wf_host_path "$dos_log")
if [[ ! -f "$host_log" ]]; then
    fail "the DOS patcher did not run (no $dos_log)"
else
    echo "the DOS patcher's log:"
    sed 's/^/  | /' "$host_log"
    mapfile -t lines < <(tr -d '\r' <"$host_log")
    [[ "${lines[0]:-}" =~ $pif_line ]] ||
        fail "the patcher did not see the installer's PIF: '${lines[0]:-}' does not match $pif_line"
    for name in wayfront.exe wfcore.dll wfview.dll wfprint.dll wfnet.dll; do
        printf '%s\n' "${lines[@]}" | grep -qx "patched $name" || fail "the DOS patcher did not replace $name"
    done
fi
# The dialog was serviced while DOSBox ran: it answered every ping during
# the patcher's status, and there were pings (DOSBox takes seconds).
pings=$(grep '^pings|.*|text=Patching' "$log" || true)
[[ -n "$pings" ]] || fail "no pings during the patcher's status"
if ! [[ "$pings" =~ answered=([1-9][0-9]*)\|missed=0\| ]]; then
    fail "the progress dialog was not serviced while the patcher ran: $pings"
fi
wf_wine_state patched "$work/patched.wine"
grep -qi 'pcpcwf.pif\|/patchb2c/' <(wf_state_section "$work/patched.wine" files) &&
    fail "the PIF or the patch directory is left after the run"
wf_expect_same_as_winsim patched --before "$sample/before" --platform "$platform" \
    --installer "$WF_INSTALLER" --twin-of "dospatch.exe=$twin" --run No --run Yes,No

# ---- After the restart: the builder's model ----------------------------------
wf_wine_state final "$work/final.wine"
wf_expect_model final "$sample/after-dos"
wf_expect_same_as_winsim final --before "$sample/before" --platform "$platform" \
    --installer "$WF_INSTALLER" --twin-of "dospatch.exe=$twin" --run No --run Yes,No --restart

wf_finish "the DOS patcher through the PIF on $version: Wine ran it in DOSBox; the machine is the model's; winsim agrees"
