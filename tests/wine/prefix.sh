#!/bin/bash
# Wine prefix handling for the end-to-end installer tests.
#
#   prefix.sh template <dir>        make a fresh 32-bit template prefix (skipped
#                                   when <dir> already holds a current one)
#   prefix.sh clone <template> <dir>
#                                   copy the template for one test run
#   prefix.sh run <prefix> -- <program> [args...]
#                                   run a command inside a private Xvfb with
#                                   WINEPREFIX set, then wait for that prefix's
#                                   wineserver to go away
#   prefix.sh stop <prefix>         kill the wineserver of <prefix>
#
# Every test gets its own copy of the template and therefore its own
# wineserver (servers are keyed by prefix), so runs never share state.
#
# The file can also be sourced; the functions below are then available.

set -euo pipefail

# Keep Wine quiet and stop it offering to download Mono/Gecko.
wf_wine_env() {
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# What a template depends on: this script and the Wine build. When either
# changes, an existing template is thrown away and made again.
wf_template_stamp() {
    {
        wine --version 2>/dev/null
        sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1
    } | tr '\n' ' '
}

wf_make_template() {
    local dir=$1
    local stamp
    stamp=$(wf_template_stamp)
    if [[ -f "$dir/.wf-template" && "$(cat "$dir/.wf-template")" == "$stamp" ]]; then
        echo "template prefix is current: $dir"
        return 0
    fi

    wf_wine_env
    local tmp="$dir.tmp.$$"
    rm -rf "$tmp"
    mkdir -p "$(dirname "$dir")"
    local t0=$SECONDS
    (
        # shellcheck disable=SC2030 # the new template's prefix, for this subshell alone
        export WINEPREFIX=$tmp
        wineboot -i >/dev/null 2>&1 || exit 1
        # A virtual desktop: without one, Wine under Xvfb lingers about two
        # seconds on every window it destroys.
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 &&
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1 &&
        # A crashing program must end with an exit code, not sit behind
        # winedbg's crash dialog until the test times out.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 ||
            exit 1
        wineserver -w
    ) || { echo "wineboot failed for $tmp" >&2; rm -rf "$tmp"; return 1; }

    rm -rf "$dir"
    mv "$tmp" "$dir"
    printf '%s' "$stamp" > "$dir/.wf-template"
    echo "template prefix made in $((SECONDS - t0)) s: $dir ($(du -sh "$dir" | cut -f1))"
}

# The Windows path of a host file: Wine maps the host's / to drive Z:.
# Computed here rather than by winepath, which would start Wine (and make
# ~/.wine) outside any test prefix.
wf_winpath() {
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s\n' "${path//\//\\}"
}

wf_clone() {
    local template=$1 dir=$2
    [[ -f "$template/.wf-template" ]] || { echo "no template prefix at $template" >&2; return 1; }
    rm -rf "$dir"
    cp -a "$template" "$dir"
    rm -f "$dir/.wf-template"
}

# Fails only to be quiet: a prefix whose server is gone already is stopped.
wf_stop() {
    WINEPREFIX=$1 wineserver -k 2>/dev/null || true
    WINEPREFIX=$1 wineserver -w 2>/dev/null || true
}

# Runs "$@" with WINEPREFIX=$prefix inside its own Xvfb. The wineserver is
# waited for before the X server goes away, so nothing of this run is still
# writing to the prefix when the caller looks at it.
wf_run() {
    local prefix=$1; shift
    [[ "${1:-}" == "--" ]] && shift
    wf_wine_env
    # shellcheck disable=SC2016 # $@ and $rc belong to the inner shell
    WINEPREFIX=$prefix xvfb-run -a -s "-screen 0 1024x768x24" \
        bash -c 'wineserver -p0; "$@"; rc=$?; wineserver -w; exit $rc' wf-run "$@"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
    cmd=${1:-}
    shift || true
    case "$cmd" in
        template) [[ $# -eq 1 ]] || { echo "usage: $0 template <dir>" >&2; exit 2; }
                  wf_make_template "$1" ;;
        clone)    [[ $# -eq 2 ]] || { echo "usage: $0 clone <template> <dir>" >&2; exit 2; }
                  wf_clone "$1" "$2" ;;
        run)      [[ $# -ge 2 ]] || { echo "usage: $0 run <prefix> -- <program> [args]" >&2; exit 2; }
                  wf_run "$@" ;;
        stop)     [[ $# -eq 1 ]] || { echo "usage: $0 stop <prefix>" >&2; exit 2; }
                  wf_stop "$1" ;;
        *)        sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
fi
