#!/bin/bash
# What the Wine scenarios share: a prefix holding the sample installation,
# a run of the installer answered by boxanswer, and checks on what it showed.
# Sourced by the scenario scripts; each sets $work (a directory of its own)
# before calling wf_scenario_start.
#
#   wf_scenario_start <template>        copy the template into $work/prefix
#   wf_install_sample_files <before>    copy <before>/drive_c onto drive C:
#   wf_run_installer <installer> <boxanswer> <answers> [machine.reg]
#                                       import the registry file (if given),
#                                       then run the installer; the log is
#                                       $work/boxes.log
#   wf_expect_boxes <spec>...           the boxes shown, in order; a spec is
#                                       "BUTTONS|owner|text" (owner "none" or
#                                       the owner's caption)
#   wf_expect_exit_0, wf_expect_no_progress_dialog
#   wf_finish <pass message>            prints PASS or the failures, exits

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/prefix.sh"

CAPTION="Tolvane Wayfront Patch"
BOX_TIMEOUT=60
failures=()
fail() { failures+=("$1"); }

wf_scenario_start() {
    local template=$1
    rm -rf "$work"
    mkdir -p "$work"
    work=$(realpath "$work")
    prefix=$work/prefix
    log=$work/boxes.log
    trap 'wf_stop "$prefix"; [[ "${WF_KEEP:-0}" == 1 ]] || rm -rf "$prefix"' EXIT
    wf_clone "$template" "$prefix" || { echo "FAIL: cannot copy template prefix"; exit 1; }
}

wf_install_sample_files() {
    cp -a "$1/drive_c/." "$prefix/drive_c/" || { echo "FAIL: cannot copy $1/drive_c"; exit 1; }
}

wf_run_installer() {
    local installer=$1 boxanswer=$2 answers=$3 reg=${4:-}
    local import=true
    [[ -n "$reg" ]] && import="wine regedit /S '$(wf_winpath "$reg")'"
    rm -f "$log"
    # From C:\, like a user who starts it from Explorer's drive view.
    (cd "$prefix/drive_c" &&
     wf_run "$prefix" -- bash -c "$import && wine \"\$@\"" run-installer \
         "$boxanswer" "$(wf_winpath "$log")" "$BOX_TIMEOUT" "$CAPTION" "$answers" \
         "$(wf_winpath "$installer")") >"$work/wine.out" 2>&1
    echo "log: $log"
    [[ -f "$log" ]] && sed 's/^/  | /' "$log"
    if [[ ! -f "$log" ]]; then
        fail "boxanswer wrote no log; wine output in $work/wine.out"
        return 1
    fi
    grep -q '^timeout$' "$log" && fail "installer did not finish within $BOX_TIMEOUT s"
    grep -q '^error|' "$log" && fail "boxanswer: $(grep '^error|' "$log")"
    return 0
}

# One field of a box line.
wf_box_field() { tr '|' '\n' <<<"$1" | sed -n "s/^$2=//p" | head -1; }

wf_expect_boxes() {
    [[ -f "$log" ]] || return
    mapfile -t boxes < <(grep '^box|' "$log")
    [[ ${#boxes[@]} -eq $# ]] || fail "expected $# message box(es), saw ${#boxes[@]}"
    local i=0 spec box
    for spec in "$@"; do
        box=${boxes[$i]:-}
        i=$((i + 1))
        [[ -n "$box" ]] || break
        local buttons=${spec%%|*} rest=${spec#*|}
        local owner=${rest%%|*} text=${rest#*|}
        [[ "$(wf_box_field "$box" caption)" == "$CAPTION" ]] || fail "box $i: caption '$(wf_box_field "$box" caption)'"
        [[ "$(wf_box_field "$box" buttons)" == "$buttons" ]] || fail "box $i: buttons '$(wf_box_field "$box" buttons)', want $buttons"
        [[ "$(wf_box_field "$box" owner)" == "$owner" ]] || fail "box $i: owner '$(wf_box_field "$box" owner)', want '$owner'"
        [[ "${box#*|text=}" == "$text" ]] || fail "box $i: text '${box#*|text=}', want '$text'"
        [[ "$box" == *'|unexpected|'* ]] && fail "box $i was not answered as scripted"
    done
}

wf_expect_exit_0() {
    [[ -f "$log" ]] || return
    local exitline
    exitline=$(grep -m1 '^exit|' "$log")
    if [[ -z "$exitline" ]]; then
        fail "no exit code recorded"
    elif [[ "$exitline" != "exit|0" ]]; then
        local code=${exitline#exit|}
        fail "installer exit code $code ($(printf '%#x' "$code")), want 0"
    fi
}

wf_expect_no_progress_dialog() {
    [[ -f "$log" ]] || return
    grep -q '^status|' "$log" && fail "a progress dialog appeared: $(grep -m1 '^status|' "$log")"
}

wf_finish() {
    if [[ ${#failures[@]} -eq 0 ]]; then
        echo "PASS: $1"
        exit 0
    fi
    local f
    for f in "${failures[@]}"; do echo "FAIL: $f"; done
    echo "(work files in $work)"
    exit 1
}
