#!/bin/bash
# End-to-end: runs that differ from the plain good run in one way, each on
# a fresh prefix, each held against winsim.
#
#   variations.sh <wfpatch.exe> <boxanswer.exe> <template prefix> <work dir> <sample dir> <wfstate> <case>
#
# Cases:
#   restart-yes      NT: the restart question answered Yes; the installer's
#                    ExitWindowsEx reaches Wine (it starts wineboot to end
#                    the session) and the next boot installs 95.0.C
#   leftover-dir     NT: the patch directory of an earlier failed run, with
#                    a stale file in it, is still there; the run succeeds
#                    over it and the stale file stays, so the directory does
#   staging-fails    95: one installed file the patch copies is missing;
#                    message 205, nothing is installed or counted, the
#                    extracted files stay in the patch directory
#   foreign-rename   95: WININIT.INI already holds another program's
#                    [Rename] line; it survives the patch and is carried
#                    out at the restart with ours
#   readonly-wininit 95: WININIT.INI (with another program's line) is
#                    read-only, so our [Rename] lines cannot be written:
#                    message 202, and the files and registry are as before
#                    the run (the patch directory may stay). The user
#                    makes the file writable and runs again: the patch
#                    goes through and the restart carries out both
#                    programs' lines
#   long-dir         NT: the product installed in a directory of over 150
#                    characters (its registry value changed to match), so
#                    no full path of the patch directory fits the 128
#                    bytes of OFSTRUCT behind the LZ calls; the run and
#                    the restart end as the plain run does, in that
#                    directory
#   readonly-files   NT: every installed file of the product is read-only,
#                    as a copy from a CD-ROM leaves it; the staged copies
#                    must not stay read-only or the patcher cannot replace
#                    them. The run and the restart end as the plain run
#                    does. (As root, Wine's writes ignore the attribute, so
#                    the files are also immutable while the installer runs;
#                    they are released before the restart, where Wine
#                    replaces a read-only file as Windows does.)
#   statuses         NT: the plain good run with boxanswer's status shots
#                    (boxhook.dll holds the installer just before each
#                    status goes; polled shots add the moments while the
#                    patcher runs, whose console covers the dialog): each
#                    of the five statuses was on the screen with its text
#                    at least once, judged by the pixels of the status
#                    line, which must not be uniform
#   dword-count      NT: two counts the patch changes are REG_DWORD values,
#                    not text: qmfont32.dll (block 3000, 1) and qmsound.dll
#                    (block 3100, 2, Quayside's too); they stay REG_DWORD,
#                    raised and lowered by one, and all else is as the
#                    plain run leaves it
set -euo pipefail
export WF_INSTALLER=$1 WF_BOXANSWER=$2 WF_WFSTATE=$6
work=$4 sample=$5 case=$7
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install='C:\Program Files\Quenmark\Wayfront'
confirm="Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?"
restart_question="Patch successful.  Windows must be restarted to complete the changes.  Would you like to restart Windows now?"
# Another program's replacement, waiting in WININIT.INI for the restart.
foreign=('file:C:\Quenmark\Quayside\qsdata.dat=old data' 'file:C:\Quenmark\Quayside\qsdata.new=new data'
         'add-rename-line:C:\Quenmark\Quayside\qsdata.dat=C:\Quenmark\Quayside\qsdata.new')

wf_scenario_start "$3"
wf_install_sample_files "$sample/before"

# sample_state before|after: the sample machine, files and registry, as a
# state file; prints its path.
sample_state() {
    local out=$work/sample-$1.state
    [[ -f "$out" ]] ||
        "$WF_WFSTATE" normalize --drive-c "$sample/$1/drive_c" --reg "$sample/$1/machine.reg" --out "$out" >&2
    echo "$out"
}

# files_as_after <state> [sed script]: the product's files (their paths
# changed by the script) are the sample's 95.0.C tree.
files_as_after() {
    local after
    after=$(sample_state after)
    cmp -s <(wf_state_section "$1" files | sed "${2:-}" | grep -v '^windows/' | grep -v '^quenmark/quayside/') \
           <(wf_state_section "$after" files) ||
        fail "the files are not the sample's 95.0.C tree:
$(diff <(wf_state_section "$1" files | sed "${2:-}") <(wf_state_section "$after" files))"
}

# The registry section as "[key] value" lines, sorted: the order values were
# written in is no part of the machine. HKEY_CURRENT_USER is left out, as
# the sample's machine.reg does not describe it.
machine_registry() {
    wf_state_section "$1" registry |
        awk '/^\[/ { key = $0; skip = /^\[hkey_current_user/; next } !skip && NF { print key " " $0 }' | sort
}

# registry_as <state> <expected state> <what> [sed script]: the registry of
# <state> is the expected one's, changed by the script.
registry_as() {
    local d
    d=$(diff <(machine_registry "$1") <(machine_registry "$2" | sed "${4:-}")) ||
        fail "$3 (< found, > expected):
$d"
}

# foreign_rename_done <state>: the other program's line was carried out.
foreign_rename_done() {
    local files
    files=$(wf_state_section "$1" files)
    grep -q "^quenmark/quayside/qsdata.dat 8 $(printf 'new data' | gzip -c | tail -c8 | od -An -tx4 -N4 | tr -d ' ')\$" \
        <<<"$files" || fail "the other program's rename was not carried out: $(grep quayside <<<"$files")"
    if grep -q '^quenmark/quayside/qsdata.new ' <<<"$files"; then fail "qsdata.new is still there"; fi
}

case "$case" in
restart-yes)
    wf_session version=nt40 "import=$sample/before/machine.reg" run=Yes,Yes session-ends state=restarted
    log=$work/boxes-1.log
    wf_expect_boxes "YESNO|none|$confirm" "YESNO|Tolvane Wayfront Patch|$restart_question"
    wf_expect_exit_0
    # ExitWindowsEx(EWX_REBOOT) under Wine starts "wineboot --end-session",
    # which ends the session; the next command starts a new one, which is
    # a boot, and the replacements are carried out.
    if wf_restart_requested 1; then
        echo "restart request seen: $(grep -m1 -o 'wineboot.exe[^"]*' "$work/run-1.trace")"
    else
        fail "the restart request did not reach Wine (no wineboot --end-session in $work/run-1.trace)"
    fi
    [[ -f "$work/session-ended" ]] || fail "the Wine session did not end after the restart request"
    wf_wine_state restarted "$work/restarted.wine" --restart-requested
    files_as_after "$work/restarted.wine"
    grep -q 'PendingFileRenameOperations (' "$work/restarted.wine" && fail "PendingFileRenameOperations is left"
    wf_expect_same_as_winsim restarted --before "$sample/before" --platform nt --run Yes,Yes --restart
    ;;
leftover-dir)
    steps=("mkdir:$install\\PatchB2C" "file:$install\\PatchB2C\\stale.tmp=left by an earlier run")
    wf_prepare "${steps[@]}"
    wf_session version=nt40 "import=$sample/before/machine.reg" run=Yes,No state=patched
    log=$work/boxes-1.log
    wf_expect_boxes "YESNO|none|$confirm" "YESNO|Tolvane Wayfront Patch|$restart_question"
    wf_wine_state patched "$work/patched.wine"
    files=$(wf_state_section "$work/patched.wine" files)
    grep -q '^program files/quenmark/wayfront/wayfront.exx ' <<<"$files" ||
        fail "the run over the old patch directory did not patch"
    grep -q '/patchb2c/stale.tmp ' <<<"$files" || fail "the earlier run's file is gone"
    wf_expect_same_as_winsim patched --before "$sample/before" --platform nt \
        "${steps[@]/#/--prepare=}" --run Yes,No
    ;;
staging-fails)
    steps=("remove:$install\\wfprint.dll")
    wf_prepare "${steps[@]}"
    wf_session version=win95 "import=$sample/before/machine.reg" run=Yes,OK state=failed
    log=$work/boxes-1.log
    wf_expect_boxes "YESNO|none|$confirm" \
        "OK|Tolvane Wayfront Patch|Error copying files from install directory to tempory patch directory, patch failed."
    wf_wine_state failed "$work/failed.wine"
    files=$(wf_state_section "$work/failed.wine" files)
    grep -Eq '^(program files/quenmark/wayfront|quenmark/shared)/[^/]*x ' <<<"$files" &&
        fail "a replacement was installed: $(grep -E '/[^/]*x ' <<<"$files" | head -1)"
    grep -q '^windows/wininit' <<<"$files" && fail "WININIT.INI was written"
    registry_as "$work/failed.wine" "$(sample_state before)" "the registry changed"
    wf_expect_same_as_winsim failed --before "$sample/before" --platform 95 \
        "${steps[@]/#/--prepare=}" --run Yes,OK
    ;;
foreign-rename)
    steps=("${foreign[@]}")
    # Written after the boot that starts the session, or that boot would
    # carry the line out before the installer runs.
    wf_session version=win95 "import=$sample/before/machine.reg" "${steps[@]/#/prepare=}" \
        run=Yes,No state=patched
    wf_wine_state patched "$work/patched.wine"
    wininit_lines=$(wf_state_section "$work/patched.wine" wininit)
    grep -qxF 'c:\quenmark\quayside\qsdata.dat=c:\quenmark\quayside\qsdata.new' <<<"$wininit_lines" ||
        fail "the other program's [Rename] line is gone"
    grep -q 'wayfront\.exe=' <<<"$wininit_lines" || fail "our lines are missing"
    wf_expect_same_as_winsim patched --before "$sample/before" --platform 95 \
        "${steps[@]/#/--prepare=}" --run Yes,No
    wf_session reboot state=restarted
    wf_wine_state restarted "$work/restarted.wine"
    foreign_rename_done "$work/restarted.wine"
    files_as_after "$work/restarted.wine"
    wf_expect_same_as_winsim restarted --before "$sample/before" --platform 95 \
        "${steps[@]/#/--prepare=}" --run Yes,No --restart
    ;;
readonly-wininit)
    wininit='C:\windows\WININIT.INI'
    steps=("${foreign[@]}" "readonly:$wininit")
    wf_session version=win95 "import=$sample/before/machine.reg" "${steps[@]/#/prepare=}" \
        run=Yes,OK state=failed "prepare=writable:$wininit" run=Yes,No
    wf_session reboot state=restarted
    log=$work/boxes-1.log
    wf_expect_boxes "YESNO|none|$confirm" \
        "OK|Tolvane Wayfront Patch|Unable to set up files to be copied on next boot, patch failed."
    wf_wine_state failed "$work/failed.wine"
    before=$(sample_state before)
    d=$(diff <(wf_state_section "$work/failed.wine" files |
               grep -Ev '^(windows|quenmark/quayside|program files/quenmark/wayfront/patchb2c)/') \
             <(wf_state_section "$before" files)) ||
        fail "after the failed run the files are not as before it (< found, > before):
$d"
    registry_as "$work/failed.wine" "$before" "after the failed run the registry is not as before it"
    wf_expect_same_as_winsim failed --before "$sample/before" --platform 95 "${steps[@]/#/--prepare=}" --run Yes,OK

    log=$work/boxes-2.log
    wf_expect_boxes "YESNO|none|$confirm" "YESNO|Tolvane Wayfront Patch|$restart_question"
    wf_wine_state restarted "$work/restarted.wine"
    files_as_after "$work/restarted.wine"
    foreign_rename_done "$work/restarted.wine"
    registry_as "$work/restarted.wine" "$(sample_state after)" \
        "after the second run and the restart the registry is not the sample's after state"
    wf_expect_same_as_winsim restarted --before "$sample/before" --platform 95 "${steps[@]/#/--prepare=}" \
        --run Yes,OK "--prepare=writable:$wininit" --run Yes,No --restart
    ;;
long-dir)
    long='C:\Program Files\Quenmark\Tolvane Wayfront 95, installed in a directory whose name is long enough'
    long+=' that its patch directory has no full path within OFSTRUCT\Wayfront'
    ((${#long} >= 150)) || { echo "the long directory has only ${#long} characters"; exit 2; }
    apps='HKLM\Software\Quenmark\InstalledApps'
    wf_prepare "move:$install=$long"
    wf_session version=nt40 "import=$sample/before/machine.reg" "prepare=reg-sz:$apps|Tolvane Wayfront=$long" \
        run=Yes,No
    wf_session reboot state=restarted
    log=$work/boxes-1.log
    wf_expect_boxes "YESNO|none|$confirm" "YESNO|Tolvane Wayfront Patch|$restart_question"
    wf_wine_state restarted "$work/restarted.wine"
    lower=${long#C:\\}
    lower=${lower//\\//}
    lower=${lower,,}
    files_as_after "$work/restarted.wine" "s|^${lower//|/\\|}/|program files/quenmark/wayfront/|"
    wf_expect_same_as_winsim restarted --before "$sample/before" --platform nt "--prepare=move:$install=$long" \
        "--prepare=reg-sz:$apps|Tolvane Wayfront=$long" --run Yes,No --restart
    ;;
readonly-files)
    steps=()
    for f in "$sample/before/drive_c/Program Files/Quenmark/Wayfront/"*; do
        [[ -f "$f" ]] && steps+=("readonly:$install\\${f##*/}")
    done
    wf_prepare "${steps[@]}"
    wf_session version=nt40 "import=$sample/before/machine.reg" run=Yes,No
    wf_release_readonly
    wf_session reboot state=restarted
    log=$work/boxes-1.log
    wf_expect_boxes "YESNO|none|$confirm" "YESNO|Tolvane Wayfront Patch|$restart_question"
    wf_wine_state restarted "$work/restarted.wine"
    files_as_after "$work/restarted.wine"
    wf_expect_same_as_winsim restarted --before "$sample/before" --platform nt "${steps[@]/#/--prepare=}" \
        --run Yes,No --restart
    ;;
statuses)
    mkdir -p "$work/shots"
    export BOXANSWER_SHOTS
    BOXANSWER_SHOTS=$(wf_winpath "$work/shots")
    # On the template's 800x600 desktop the patcher's console window covers
    # the centred dialog, and when it closes leaves it black until the
    # installer next looks at its messages (the restart question): seen in
    # the shots. On a desktop of 1600x1200 (Xvfb shows its top left
    # 1024x768, the dialog included) the console does not reach the dialog.
    # The desktop's size counts from the next boot.
    wf_session version=nt40 "import=$sample/before/machine.reg" desktop=1600x1200
    wf_session run=Yes,No state=patched
    log=$work/boxes-1.log
    wf_expect_boxes "YESNO|none|$confirm" "YESNO|Tolvane Wayfront Patch|$restart_question"
    # A line of text leaves some hundreds of pixels off the background; an
    # area never painted is one colour (black under Wine). A shot counts for
    # its status only if no held shot of another status shows the same
    # pixels (a held shot shows what was on the screen while the status it
    # names ran; a polled one may still show the status before).
    statuses=("Checking for required disk space" "Extracting files, please wait..."
              "Copying files to temporary patch directory" "Patching files, please wait..."
              "Updating the Registry")
    shots=$(sed -n 's/^shot|[0-9]*|\([a-z]*\)|ink=\(-\{0,1\}[0-9]*\)|area=\([0-9a-f]*\)|text=/\1 \2 \3 /p' "$log")
    for status in "${statuses[@]}"; do
        others=$(grep '^held ' <<<"$shots" | grep -vF " $status" | cut -d' ' -f3 | sort -u || true)
        ink=$(grep -F " $status" <<<"$shots" | grep -vwFf <(printf '%s\n' "${others:-none}") | cut -d' ' -f2 |
              sort -n | tail -1 || true)
        if [[ -z "$ink" ]]; then
            fail "the status '$status' was never on the screen (each shot of it shows another status)"
        elif ((ink < 50)); then
            fail "the status '$status' was never readable on the screen: at best $ink pixels of ink"
        else
            echo "status '$status': $ink pixels of ink"
        fi
    done
    wf_wine_state patched "$work/patched.wine"
    wf_expect_same_as_winsim patched --before "$sample/before" --platform nt --run Yes,No
    ;;
dword-count)
    shared_dlls='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
    steps=("reg-dword:$shared_dlls|C:\Quenmark\Shared\qmfont32.dll=1"
           "reg-dword:$shared_dlls|C:\Quenmark\Shared\qmsound.dll=2")
    wf_session version=nt40 "import=$sample/before/machine.reg" "${steps[@]/#/prepare=}" run=Yes,No
    wf_session reboot state=restarted
    log=$work/boxes-1.log
    wf_expect_boxes "YESNO|none|$confirm" "YESNO|Tolvane Wayfront Patch|$restart_question"
    wf_wine_state restarted "$work/restarted.wine"
    files_as_after "$work/restarted.wine"
    registry_as "$work/restarted.wine" "$(sample_state after)" \
        "the registry is not the sample's after state with qmfont32.dll at dword 2 and qmsound.dll at dword 1" \
        's/\(qmfont32\.dll"\)="2"$/\1=dword:00000002/; s/\(qmsound\.dll"\)="1"$/\1=dword:00000001/'
    wf_expect_same_as_winsim restarted --before "$sample/before" --platform nt "${steps[@]/#/--prepare=}" \
        --run Yes,No --restart
    ;;
*)
    echo "unknown case $case"
    exit 2 ;;
esac

wf_finish "$case: as winsim has it"
