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
#   wf_expect_boxes <box>...            the boxes shown, in order; each is
#                                       "BUTTONS|owner|text" (owner "none" or
#                                       the owner's caption)
#   wf_expect_exit_0, wf_expect_no_progress_dialog
#   wf_finish <pass message>            prints PASS or the failures, exits
#
# Whole runs through the restart, held against winsim (wfstate):
#   wf_prepare <step>...                change the sample on drive C: (or
#                                       the registry, in a session) as
#                                       "wfstate run --prepare" does
#   wf_session <step>...                one boot of the prefix (see below)
#   wf_wine_state <name> <out>          the state saved by "state=<name>",
#                                       normalised by wfstate
#   wf_expect_same_as_winsim <name> <wfstate run args>...
#                                       runs the same on winsim, requires the
#                                       two states to be identical
#   wf_expect_model <name> <model dir>  the state's files and registry are
#                                       the builder's model's
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=prefix.sh
source "$here/prefix.sh"

CAPTION="Tolvane Wayfront Patch"
BOX_TIMEOUT=60
failures=()
fail() { failures+=("$1"); }

# wf_wine_version nt|95: the Wine version a platform's runs use. Anything
# else is a usage error: the caller's script exits with 2.
wf_wine_version() {
    case "$1" in
    nt) echo nt40 ;;
    95) echo win95 ;;
    *) echo "usage: the platform is nt or 95, not '$1'" >&2; return 2 ;;
    esac
}

wf_scenario_start() {
    local template=$1
    wf_release_readonly
    rm -rf "$work"
    mkdir -p "$work"
    work=$(realpath "$work")
    prefix=$work/prefix
    log=$work/boxes.log
    trap 'wf_stop "$prefix"; wf_release_readonly; [[ "${WF_KEEP:-0}" == 1 ]] || rm -rf "$prefix"' EXIT
    wf_clone "$template" "$prefix" || { echo "FAIL: cannot copy template prefix"; exit 1; }
}

wf_install_sample_files() {
    cp -a "$1/drive_c/." "$prefix/drive_c/" || { echo "FAIL: cannot copy $1/drive_c"; exit 1; }
}

wf_run_installer() {
    local installer=$1 boxanswer=$2 answers=$3 reg=${4:-}
    local winreg=""
    [[ -z "$reg" ]] || winreg=$(wf_winpath "$reg")
    rm -f "$log"
    # From C:\, like a user who starts it from Explorer's drive view. The
    # registry file (none when empty) is imported first, in the same Wine
    # session. boxanswer's own status is not looked at: what went wrong is
    # in its log, checked below.
    # shellcheck disable=SC2016 # $1 and $@ are the inner shell's arguments
    (cd "$prefix/drive_c" &&
     wf_run "$prefix" -- bash -c '[[ -z "$1" ]] || wine regedit /S "$1" || exit; shift; wine "$@"' \
         run-installer "$winreg" "$boxanswer" "$(wf_winpath "$log")" "$BOX_TIMEOUT" "$CAPTION" \
         "$answers" "$(wf_winpath "$installer")") >"$work/wine.out" 2>&1 || true
    echo "log: $log"
    if [[ -f "$log" ]]; then sed 's/^/  | /' "$log"; fi
    if [[ ! -f "$log" ]]; then
        fail "boxanswer wrote no log; wine output in $work/wine.out"
        return 1
    fi
    if grep -q '^timeout$' "$log"; then fail "installer did not finish within $BOX_TIMEOUT s"; fi
    if grep -q '^error|' "$log"; then fail "boxanswer: $(grep '^error|' "$log")"; fi
    return 0
}

# One field of a box line.
wf_box_field() { tr '|' '\n' <<<"$1" | sed -n "s/^$2=//p" | head -1; }

wf_expect_boxes() {
    [[ -f "$log" ]] || return 0
    mapfile -t boxes < <(grep '^box|' "$log")
    [[ ${#boxes[@]} -eq $# ]] || fail "expected $# message box(es), saw ${#boxes[@]}"
    local i=0 want box
    for want in "$@"; do
        box=${boxes[$i]:-}
        i=$((i + 1))
        [[ -n "$box" ]] || break
        local buttons=${want%%|*} rest=${want#*|}
        local owner=${rest%%|*} text=${rest#*|}
        [[ "$(wf_box_field "$box" caption)" == "$CAPTION" ]] || fail "box $i: caption '$(wf_box_field "$box" caption)'"
        [[ "$(wf_box_field "$box" buttons)" == "$buttons" ]] || fail "box $i: buttons '$(wf_box_field "$box" buttons)', want $buttons"
        [[ "$(wf_box_field "$box" owner)" == "$owner" ]] || fail "box $i: owner '$(wf_box_field "$box" owner)', want '$owner'"
        [[ "${box#*|text=}" == "$text" ]] || fail "box $i: text '${box#*|text=}', want '$text'"
        if [[ "$box" == *'|unexpected|'* ]]; then fail "box $i was not answered as scripted"; fi
    done
}

wf_expect_exit_0() {
    [[ -f "$log" ]] || return 0
    local exitline
    exitline=$(grep -m1 '^exit|' "$log" || true)
    if [[ -z "$exitline" ]]; then
        fail "no exit code recorded"
    elif [[ "$exitline" != "exit|0" ]]; then
        local code=${exitline#exit|}
        fail "installer exit code $code ($(printf '%#x' "$code")), want 0"
    fi
}

wf_expect_no_progress_dialog() {
    [[ -f "$log" ]] || return 0
    if grep -q '^status|' "$log"; then fail "a progress dialog appeared: $(grep -m1 '^status|' "$log")"; fi
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

# ---- Whole runs, one boot at a time --------------------------------------
#
# Every Wine session (a new wineserver for the prefix) starts with wineboot,
# which carries out PendingFileRenameOperations and WININIT.INI: to Wine a
# new session is a restart. So everything that must happen before the
# restart (the run, a second run, saving the state) happens in one session,
# and the restart is the next session ("reboot" then only makes it explicit).
#
# wf_session steps, in order, in one session:
#   version=<v>       HKCU\Software\Wine Version (win95, nt40, winxp ...)
#   import=<file>     wine regedit /S <file>
#   desktop=<w>x<h>   the size of Wine's virtual desktop from the next boot
#   installer=<exe>|<caption>
#                     the later runs of this session are of another
#                     installer, whose boxes carry that caption
#   run=<answers>     the installer answered by boxanswer; the logs are
#                     $work/boxes-<n>.log, n counting the runs of the scenario
#   state=<name>      saves the machine: the touched keys exported by regedit
#                     and the files wfstate lists, under $work/<name>
#   prepare=<step>    a wf_prepare step, made after this boot (WININIT.INI
#                     written before the session would be carried out by it)
#   session-ends      waits up to 30 s for the session to end by itself
#                     (as a restart request ends it); touches
#                     $work/session-ended if it did. Later steps start a new
#                     session, which is a boot
#   reboot            wine wineboot -r
# WF_WFSTATE, WF_INSTALLER and WF_BOXANSWER must be set.

WF_TOUCHED_KEYS=(
    'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
    'HKEY_LOCAL_MACHINE\Software\Quenmark'
    'HKEY_CURRENT_USER\Software\Quenmark'
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager'
)
wf_runs=0

wf_session() {
    local step runs_before=$wf_runs
    for step in "$@"; do
        if [[ "$step" == run=* ]]; then wf_runs=$((wf_runs + 1)); fi
    done
    (cd "$prefix/drive_c" &&
     wf_run "$prefix" -- env WF_RUNS_BEFORE="$runs_before" work="$work" prefix="$prefix" \
         bash "$here/lib.sh" --session-steps "$@") >>"$work/wine.out" 2>&1 ||
        fail "session failed ($*): $(tail -2 "$work/wine.out" | tr '\n' ' ')(more in $work/wine.out)"
    local n
    for ((n = 1; n <= wf_runs; n++)); do
        [[ -f "$work/boxes-$n.log" ]] || continue
        if grep -q '^timeout$' "$work/boxes-$n.log"; then
            fail "run $n: installer did not finish within $BOX_TIMEOUT s"
        fi
        if grep -q '^error|' "$work/boxes-$n.log"; then fail "run $n: $(grep '^error|' "$work/boxes-$n.log")"; fi
    done
    return 0
}

# Inside the session (lib.sh run as a script): carries out the steps.
wf_session_steps() {
    local step n=${WF_RUNS_BEFORE:-0}
    for step in "$@"; do
        echo "== $step"
        case "$step" in
        version=*)
            wine reg add 'HKCU\Software\Wine' /v Version /d "${step#version=}" /f ;;
        import=*)
            wine regedit /S "$(wf_winpath "${step#import=}")" ;;
        desktop=*)
            wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "${step#desktop=}" /f ;;
        installer=*)
            step=${step#installer=}
            WF_INSTALLER=${step%%|*} CAPTION=${step#*|} ;;
        run=*)
            n=$((n + 1))
            # +process shows the wineboot that a restart request starts.
            # boxanswer's status is reported; its log says what went wrong.
            local status=0
            WINEDEBUG=+process wine "$WF_BOXANSWER" "$(wf_winpath "$work/boxes-$n.log")" "$BOX_TIMEOUT" \
                "$CAPTION" "${step#run=}" "$(wf_winpath "$WF_INSTALLER")" 2>"$work/run-$n.trace" || status=$?
            echo "run $n ended: $status"
            sed 's/^/  | /' "$work/boxes-$n.log" ;;
        state=*)
            local dir=$work/${step#state=} key i=0
            rm -rf "$dir"
            mkdir -p "$dir/drive_c/windows"
            echo "$n" >"$dir/runs"
            for key in "${WF_TOUCHED_KEYS[@]}"; do
                i=$((i + 1))
                # A key that does not exist fails and writes no file, which
                # wfstate reads as the key's absence.
                wine regedit /E "$(wf_winpath "$dir/$i.reg")" "$key" || true
            done
            local c=$prefix/drive_c
            if [[ -d "$c/Program Files/Quenmark" ]]; then
                mkdir -p "$dir/drive_c/Program Files"
                cp -a "$c/Program Files/Quenmark" "$dir/drive_c/Program Files/"
            fi
            if [[ -d "$c/Quenmark" ]]; then cp -a "$c/Quenmark" "$dir/drive_c/"; fi
            find "$c/windows" -maxdepth 1 -iname 'wininit.*' -exec cp -a {} "$dir/drive_c/windows/" \; ;;
        prepare=*)
            wf_prepare "${step#prepare=}"
            if [[ ${#failures[@]} -ne 0 ]]; then
                printf '%s\n' "${failures[@]}" >&2
                return 1
            fi ;;
        session-ends)
            # The wineserver goes once the session has ended; a session
            # that does not end keeps it (services.exe, explorer.exe).
            if timeout 30 wineserver -w; then
                echo "the session ended"
                touch "$work/session-ended"
            fi ;;
        reboot)
            wine wineboot -r ;;
        *)
            echo "unknown session step $step" >&2
            return 2 ;;
        esac
    done
}

# Whether run <n> asked Wine to restart: ExitWindowsEx starts
# "wineboot --end-session ..." to end the session.
wf_restart_requested() {
    grep -q 'wineboot.exe.*--end-session' "$work/run-$1.trace" 2>/dev/null
}

# wf_prepare <step>...: the steps of "wfstate run --prepare" on the prefix.
# reg-dword, reg-sz: need wine, so only a session step (prepare=) can carry
# them out.
wf_prepare() {
    local step arg path
    for step in "$@"; do
        arg=${step#*:}
        case "$step" in
        remove:*) rm -- "$(wf_host_path "$arg")" || fail "prepare: cannot remove $arg" ;;
        mkdir:*)  mkdir -p -- "$(wf_host_path "$arg")" ;;
        file:*)   path=$(wf_host_path "${arg%%=*}")
                  mkdir -p -- "$(dirname "$path")"
                  printf '%s' "${arg#*=}" >"$path" ;;
        add-rename-line:*)
                  path=$prefix/drive_c/windows/WININIT.INI
                  [[ -f "$path" ]] || printf '[Rename]\r\n' >"$path"
                  printf '%s\r\n' "$arg" >>"$path" ;;
        readonly:*)
                  wf_set_readonly "$(wf_host_path "$arg")" ||
                      fail "prepare: cannot make $arg read-only to $(id -un) (chmod a-w, chattr +i)" ;;
        writable:*)
                  wf_clear_readonly "$(wf_host_path "$arg")" || fail "prepare: cannot make $arg writable" ;;
        move:*)   path=$(wf_host_path "${arg#*=}")
                  mkdir -p -- "$(dirname "$path")"
                  mv -- "$(wf_host_path "${arg%%=*}")" "$path" || fail "prepare: cannot move ${arg%%=*}" ;;
        reg-dword:*|reg-sz:*)
                  path=${arg%%|*}
                  arg=${arg#*|}
                  # shellcheck disable=SC2031 # set by wf_run for the session this runs in
                  if [[ -z "${WINEPREFIX:-}" ]]; then
                      fail "prepare: $step needs wine: make it a session step (prepare=)"
                  elif [[ "$step" == reg-sz:* ]]; then
                      wine reg add "$path" /v "${arg%%=*}" /t REG_SZ /d "${arg#*=}" /f ||
                          fail "prepare: $step failed"
                  else
                      wine reg add "$path" /v "${arg%=*}" /t REG_DWORD /d "${arg##*=}" /f ||
                          fail "prepare: $step failed"
                  fi ;;
        *)        fail "unknown prepare step $step" ;;
        esac
    done
}

# Wine keeps the read-only attribute as the host file's lack of write
# permission (what "attrib +r" does), which does not stop root; for root the
# file is also made immutable, and listed in $work/immutable so that
# wf_release_readonly can let the work directory be removed. Fails if the
# file can still be written.
wf_set_readonly() {
    chmod a-w -- "$1" || return 1
    [[ -w "$1" ]] && chattr +i -- "$1" 2>/dev/null && printf '%s\n' "$1" >>"$work/immutable"
    [[ ! -w "$1" ]]
}

# The attribute cleared, as "attrib -r" clears it.
wf_clear_readonly() {
    [[ -f "$work/immutable" ]] && grep -qxF -- "$1" "$work/immutable" && chattr -i -- "$1"
    chmod u+w -- "$1" && [[ -w "$1" ]]
}

wf_release_readonly() {
    [[ -f "$work/immutable" ]] || return 0
    local path
    # A file the run removed or replaced is no longer immutable.
    while IFS= read -r path; do chattr -i -- "$path" 2>/dev/null || true; done <"$work/immutable"
    rm -f "$work/immutable"
}

# The host path of a C:\ path in the prefix, as written (no case folding).
wf_host_path() {
    local rest=${1#[Cc]:\\}
    printf '%s/drive_c/%s\n' "$prefix" "${rest//\\//}"
}

# wf_wine_state <name> <out> [--restart-requested]: the state saved by
# state=<name>, with the boxes of the runs before it.
wf_wine_state() {
    local name=$1 out=$2
    shift 2
    local regs=() logs=() f n
    for f in "$work/$name"/*.reg; do
        if [[ -f "$f" ]]; then regs+=(--reg "$f"); fi
    done
    local runs
    runs=$(cat "$work/$name/runs" 2>/dev/null || echo 0)
    for ((n = 1; n <= runs; n++)); do
        if [[ -f "$work/boxes-$n.log" ]]; then logs+=(--boxes "$work/boxes-$n.log"); fi
    done
    "$WF_WFSTATE" normalize --drive-c "$work/$name/drive_c" "${regs[@]}" "${logs[@]}" "$@" --out "$out" ||
        fail "wfstate normalize failed for $name"
}

# wf_expect_same_as_winsim <name> <wfstate run args>...: the Wine state of
# <name> (made with wf_wine_state into $work/<name>.wine) against winsim's.
wf_expect_same_as_winsim() {
    local name=$1
    shift
    "$WF_WFSTATE" run "$@" --out "$work/$name.winsim" >"$work/$name.winsim.out" 2>&1 ||
        { fail "wfstate run failed for $name: $(tail -3 "$work/$name.winsim.out")"; return; }
    if ! cmp -s "$work/$name.wine" "$work/$name.winsim"; then
        echo "Wine (<) and winsim (>) differ at $name:"
        diff "$work/$name.wine" "$work/$name.winsim" | head -60 || true
        fail "$name: winsim does not end where Wine ends (diff above)"
    else
        echo "$name: Wine and winsim agree ($(grep -c . "$work/$name.wine") lines)"
    fi
}

# wf_expect_model <name> <model dir>: the Wine state of <name> (made with
# wf_wine_state into $work/<name>.wine) holds the files and the registry of
# the builder's model of the machine (drive_c/ and machine.reg); the
# Windows directory is left out.
wf_expect_model() {
    local name=$1 model=$2 section got want
    "$WF_WFSTATE" normalize --drive-c "$model/drive_c" --reg "$model/machine.reg" --out "$work/$name.model" ||
        { fail "wfstate normalize failed for $model"; return; }
    for section in files registry; do
        got=$(wf_state_section "$work/$name.wine" "$section" | grep -v '^windows/' || true)
        want=$(wf_state_section "$work/$name.model" "$section")
        [[ "$got" == "$want" ]] ||
            fail "$name: the $section section differs from the builder's model ($model):
$(diff <(echo "$want") <(echo "$got") | head -40)"
    done
}

# A section of a state file ("files", "registry", "boxes" ...).
wf_state_section() {
    awk -v want="# $2" '/^# / { on = ($0 == want); next } on' "$1"
}

if [[ "${BASH_SOURCE[0]}" == "$0" && "${1:-}" == "--session-steps" ]]; then
    shift
    wf_session_steps "$@"
fi
