#!/bin/bash
# shellcheck disable=SC2317 # the changes below are called by name, through run_case's "$@"
# End-to-end: the installation probe refuses an installation that is not
# the one the patch was built for, with its own box and nothing after it.
#
#   probe_refusals.sh <wfpatch.exe> <boxanswer.exe> <template prefix> <work dir> <sample dir>
#
# Each case is a fresh prefix holding the sample installation, changed in
# one way.
set -euo pipefail
installer=$1 boxanswer=$2 template=$3 cases_dir=$4 sample=$5
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_dir="Program Files/Quenmark/Wayfront"
all_failures=()

# run_case <name> <registry file or ""> <expected text> <change...>
run_case() {
    local name=$1 reg=$2 text=$3
    shift 3
    echo "== $name"
    work=$cases_dir/$name
    failures=()
    wf_scenario_start "$template"
    wf_install_sample_files "$sample/before"
    local vcf="$prefix/drive_c/$install_dir/wayfront.exe"
    "$@"
    wf_run_installer "$installer" "$boxanswer" OK "$reg"
    wf_expect_boxes "OK|none|$text"
    wf_expect_no_progress_dialog
    wf_expect_exit_0
    wf_stop "$prefix"
    rm -rf "$prefix"
    local f
    for f in "${failures[@]}"; do all_failures+=("$name: $f"); done
}

no_change() { :; }
remove_version_file() { rm "$vcf"; }
install_new_version() { cp "$sample/after/drive_c/$install_dir/wayfront.exe" "$vcf"; }
append_a_byte() { printf '!' >> "$vcf"; }
leave_a_replacement_waiting() { cp "$vcf" "${vcf%?}X"; }

reg=$sample/before/machine.reg
run_case not-installed "" \
    "An installation of Tolvane Wayfront was not found.  Tolvane Wayfront is needed to install this patch.  Unable to continue." \
    no_change
run_case no-version "$reg" \
    "Unable to identify the current version of Tolvane Wayfront.  The patch cannot be applied." \
    remove_version_file
run_case other-version "$reg" \
    "Incorrect version of Tolvane Wayfront installed ( VERSION 95.0.C ).  This patch can only be applied to VERSION 95.0.b." \
    install_new_version
run_case changed-file "$reg" \
    "Unable to find the English version of Tolvane Wayfront" \
    append_a_byte
run_case restart-pending "$reg" \
    "This patch has already been applied and is waiting for the machine to be restarted." \
    leave_a_replacement_waiting

failures=("${all_failures[@]}")
work=$cases_dir
wf_finish "each refusal shows its one box without an owner and ends the run"
