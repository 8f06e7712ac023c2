#!/bin/bash
# End-to-end: both products' patches on the sample machine, one after the
# other, each answered Yes and followed by a restart, on one platform.
#
#   chained.sh <wfpatch.exe> <boxanswer.exe> <template prefix> <work dir> <sample dir> <wfstate>
#              nt|95 wq|qw <qspatch.exe>
#
# wq: the Wayfront patch first, then Quayside's; qw: the other way round.
# The machine after the second restart must be the builder's model of the
# two patches in that order (sample/after-wq or after-qw): every file and
# every shared count and usage record. winsim must end in the same state.
set -euo pipefail
export WF_INSTALLER=$1 WF_BOXANSWER=$2 WF_WFSTATE=$6
work=$4 sample=$5 platform=$7 order=$8 quayside=$9
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

version=$(wf_wine_version "$platform")
wayfront_step="installer=$WF_INSTALLER|Tolvane Wayfront Patch"
quayside_step="installer=$quayside|Tolvane Quayside Patch"
case "$order" in
wq) first=$wayfront_step second=$quayside_step winsim_order=("$WF_INSTALLER" "$quayside") ;;
qw) first=$quayside_step second=$wayfront_step winsim_order=("$quayside" "$WF_INSTALLER") ;;
*) echo "usage: $0 ... nt|95 wq|qw qspatch.exe"; exit 2 ;;
esac

wf_scenario_start "$3"
wf_install_sample_files "$sample/before"
wf_session "version=$version" "import=$sample/before/machine.reg" "$first" run=Yes,No
wf_session reboot "$second" run=Yes,No
wf_session reboot state=final

# Each run asked to upgrade its own product and ended with the restart
# question, which was answered No: the restart is the next session.
for n in 1 2; do
    grep -q '^box|1|.*text=Are you sure you want to upgrade Tolvane .* to version ' "$work/boxes-$n.log" ||
        fail "run $n did not ask to upgrade"
    grep -q '^box|2|.*text=Patch successful\.' "$work/boxes-$n.log" || fail "run $n did not succeed"
done

wf_wine_state final "$work/final.wine"
wf_expect_model final "$sample/after-$order"
grep -q '^windows/wininit.ini' <(wf_state_section "$work/final.wine" files) && fail "WININIT.INI is still there"
grep -q 'PendingFileRenameOperations (' "$work/final.wine" && fail "PendingFileRenameOperations is left"

wf_expect_same_as_winsim final --before "$sample/before" --platform "$platform" \
    --installer "${winsim_order[0]}" --run Yes,No --restart --installer "${winsim_order[1]}" --run Yes,No --restart

wf_finish "both patches on $version, order $order, each with its restart: the machine is the builder's model; winsim agrees"
