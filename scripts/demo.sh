#!/usr/bin/env bash
# The installer, end to end: builds it, makes a throwaway Wine prefix holding
# the sample installation (Tolvane Wayfront 95.0.b, its shared files and its
# registry), runs build/dist/wfpatch.exe there, restarts the prefix, and
# reports what changed, checked against the state the patch builder expects
# (build/sample/after).
#
#   scripts/demo.sh [--interactive] [--keep]
#
# The installer's boxes are answered as a user would, Yes to the upgrade and
# No to the restart (the demo restarts the prefix itself, with wineboot -r),
# by boxanswer.exe, which also saves a screenshot of each box and of each
# status the progress dialog shows into build/demo/. With a usable $DISPLAY
# the run is on screen (Wine's 800x600 desktop window); otherwise under Xvfb.
#   --interactive  you answer the boxes yourself (needs a display; no shots)
#   --keep         keep the prefix (build/demo/prefix) for a look afterwards
#
# The last line is the verdict; the exit code is 0 when the patch was applied
# and the machine matches the expected state after the restart, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

interactive=0
for arg in "$@"; do
  case "$arg" in
    --interactive) interactive=1 ;;
    --keep) export WF_KEEP=1 ;;
    *) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done

scripts/deps.sh
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
echo "Building..."
# What the demo runs: the installer (with patch.exe), boxanswer and the sample.
if ! cmake --build build -j"$(nproc)" --target wfpatch_pe wine_boxanswer wf_sample \
     >build/demo-build.log 2>&1; then
  tail -30 build/demo-build.log
  echo "VERDICT: FAILED (the build failed; see build/demo-build.log)"
  exit 1
fi

source tests/wine/lib.sh
# A command that fails where nothing expects it still ends with a verdict.
trap 'echo "VERDICT: FAILED (a command failed at line $LINENO of scripts/demo.sh)"' ERR
installer=$root/build/dist/wfpatch.exe
boxanswer=$root/build/tests/wine/boxanswer.exe
sample=$root/build/sample
template=$root/build/tests/wine/prefix-template
wf_make_template "$template" >/dev/null || { echo "VERDICT: FAILED (cannot make a Wine prefix)"; exit 1; }

work=$root/build/demo
wf_scenario_start "$template"     # $prefix, $log; removes the prefix on exit
wf_install_sample_files "$sample/before"

# ---- where the run is shown -------------------------------------------------

# A display is usable when its X socket is there (local displays) or, for
# others, when xdpyinfo (if installed) can reach it.
display_usable() {
  [[ -n "${DISPLAY:-}" ]] || return 1
  case "$DISPLAY" in
    :*|unix:*)
      local n=${DISPLAY#*:}
      n=${n%%.*}
      [[ -S /tmp/.X11-unix/X$n ]] ;;
    *) ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1 ;;
  esac
}

if display_usable; then
  shown="on your display ($DISPLAY)"
  # Like wf_run, without Xvfb.
  in_prefix() {
    wf_wine_env
    WINEPREFIX=$prefix bash -c 'wineserver -p0; "$@"; rc=$?; wineserver -w; exit $rc' demo "$@"
  }
else
  [[ $interactive == 1 ]] && { echo "--interactive needs a display (\$DISPLAY)" >&2; exit 2; }
  shown="under Xvfb"
  in_prefix() { wf_run "$prefix" -- "$@"; }
fi

# ---- what the report compares ----------------------------------------------

drive=$prefix/drive_c
appdir="Program Files/Quenmark/Wayfront"
shareddir="Quenmark/Shared"
version_file="$appdir/wayfront.exe"

# The ProductVersion string of a PE's version resource.
product_version() {
  [[ -f "$1" ]] || { echo "(missing)"; return; }
  { strings -el "$1" | grep -A1 -x ProductVersion || true; } | sed -n 2p
}

# "<size> <sha256> <path>" for every file of the product and shared folders.
snapshot() {
  # A folder that is not there (yet) has no files.
  (cd "$1" && { find "$appdir" "$shareddir" -type f 2>/dev/null || true; } | LC_ALL=C sort |
     while IFS= read -r f; do
       printf '%s %s %s\n' "$(stat -c %s "$f")" "$(sha256sum <"$f" | cut -c1-64)" "$f"
     done)
}

# The SharedDLLs counts as "path=count" lines, from a REGEDIT4 or regedit /E file.
shared_counts() {
  local section="[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]"
  iconv -f "$(head -c2 "$1" | od -An -tx1 | grep -q 'ff fe' && echo UTF-16 || echo UTF-8)" \
        -t UTF-8 "$1" | tr -d '\r' |
    awk -v s="$section" 'tolower($0) == tolower(s) { on = 1; next } /^\[/ { on = 0 }
        on && /^"/ { print }' |
    sed -E 's/^"(.*)"=(.*)$/\1=\2/; s/\\\\/\\/g; s/="([^"]*)"$/=\1/' |
    while IFS= read -r line; do
      local name=${line%=*} value=${line##*=}
      # a count may also be a REG_DWORD
      [[ "$value" == dword:* ]] && value=$((16#${value#dword:}))
      printf '%s=%s\n' "${name,,}" "$value"
    done | LC_ALL=C sort
}

# A failed export leaves no file, which the report names.
export_shared() {   # <host file>
  in_prefix wine regedit /E "$(wf_winpath "$1")" \
    'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs' >/dev/null 2>&1 || true
}

# ---- the run -----------------------------------------------------------------

in_prefix wine regedit /S "$(wf_winpath "$sample/before/machine.reg")" >/dev/null 2>&1
version_before=$(product_version "$drive/$version_file")
snapshot "$drive" >"$work/files.before"
export_shared "$work/shared.before.reg"

shots=$work
if [[ $interactive == 1 ]]; then
  echo "Running build/dist/wfpatch.exe $shown; answer its boxes yourself..."
  status=0
  (cd "$drive" && in_prefix wine "$installer") >"$work/wine.out" 2>&1 || status=$?
  echo "the installer ended with exit code $status" >"$log.interactive"
else
  echo "Running build/dist/wfpatch.exe $shown (answers: Yes to the upgrade, No to the restart)..."
  # From C:\, like a user who starts it from Explorer's drive view.
  # boxanswer's status is not looked at: its log, read below, says it all.
  (cd "$drive" && BOXANSWER_SHOTS=$(wf_winpath "$shots") in_prefix wine "$boxanswer" \
     "$(wf_winpath "$log")" "$BOX_TIMEOUT" "$CAPTION" Yes,No "$(wf_winpath "$installer")") \
     >"$work/wine.out" 2>&1 || true
fi
files_installer=$(snapshot "$drive")
export_shared "$work/shared.installer.reg"

echo "Restarting the prefix (wineboot -r)..."
in_prefix wine wineboot -r >"$work/wineboot.out" 2>&1
snapshot "$drive" >"$work/files.after"
export_shared "$work/shared.after.reg"
version_after=$(product_version "$drive/$version_file")

# ---- the report ----------------------------------------------------------------

problems=()

if [[ $interactive == 0 ]]; then
  echo
  echo "What the installer showed:"
  if [[ ! -f "$log" ]]; then
    echo "  (nothing: boxanswer wrote no log; Wine's output is in $work/wine.out)"
    problems+=("no log of the run")
  else
    declare -A best_ink=() best_shot=()
    shot_order=()
    while IFS= read -r line; do
      case "$line" in
        box\|*)
          echo "  box ($(wf_box_field "$line" buttons), owner: $(wf_box_field "$line" owner)):" \
               "\"${line#*|text=}\" -> $(wf_box_field "$line" answer)"
          [[ "$line" == *'|unexpected|'* ]] && problems+=("unexpected box: ${line#*|text=}") ;;
        status\|*) # seen by polling, which can miss a short stage; the screenshots say more
                   echo "  progress dialog: \"${line#status|text=}\"" ;;
        shot\|*)   # a screenshot of the dialog: held by boxanswer's hook just before
                   # its status went, or polled while it ran; the best one counts
                   ink=${line#shot|*|ink=}
                   ink=${ink%%|*}
                   text=${line#*|text=}
                   if [[ -z "${best_ink[$text]:-}" ]] || ((ink > best_ink[$text])); then
                     best_ink[$text]=$ink
                     best_shot[$text]=$(printf '%02d' "$(cut -d'|' -f2 <<<"$line")")
                   fi
                   seen=0
                   for t in "${shot_order[@]:-}"; do [[ "$t" == "$text" ]] && seen=1; done
                   ((seen)) || shot_order+=("$text") ;;
        exit\|*)   echo "  the installer ended with exit code ${line#exit|}"
                   [[ "$line" == "exit|0" ]] || problems+=("installer exit code ${line#exit|}") ;;
        timeout)   echo "  the installer did not finish within $BOX_TIMEOUT s"
                   problems+=("installer timed out") ;;
        unused\|*) problems+=("scripted answer ${line#unused|} not used") ;;
        error\|*)  problems+=("boxanswer: ${line#error|}") ;;
      esac
    done <"$log"
    for text in "${shot_order[@]:-}"; do
      [[ -n "$text" ]] || continue
      if ((best_ink[$text] >= 50)); then
        echo "  status \"$text\": readable (screenshot ${best_shot[$text]}, ${best_ink[$text]} pixels of ink)"
      else
        # Not part of the verdict, which is about the patch; said plainly.
        echo "  status \"$text\": NOT readable (best screenshot ${best_shot[$text]}, ${best_ink[$text]} pixels of ink)"
      fi
    done
  fi

  # Screenshots: PNG when ImageMagick's convert is there, else the BMPs.
  mapfile -t bmps < <(find "$shots" -maxdepth 1 -name '[0-9][0-9]-*.bmp' | LC_ALL=C sort)
  if [[ ${#bmps[@]} -gt 0 ]]; then
    if command -v convert >/dev/null; then
      for b in "${bmps[@]}"; do
        convert "$b" "${b%.bmp}.png" 2>/dev/null && rm -f "$b"
      done
    fi
    echo
    echo "Screenshots (build/demo/):"
    find "$shots" -maxdepth 1 -name '[0-9][0-9]-*.*' -printf '  %f\n' | LC_ALL=C sort
  fi
else
  cat "$log.interactive"
fi

echo
echo "Product version (ProductVersion of C:\\${version_file//\//\\}):"
version_expected=$(product_version "$sample/after/drive_c/$version_file")
echo "  before: $version_before    after the restart: $version_after    expected: $version_expected"
[[ "$version_after" == "$version_expected" ]] ||
  problems+=("product version after the restart is '$version_after', want '$version_expected'")

# Files: what the restart changed against the state before the run, then a
# check against the expected tree.
echo
echo "Files (C:\\${appdir//\//\\} and C:\\${shareddir//\//\\}), before -> after the restart:"
declare -A before_sum=() after_sum=()
while read -r size sum path; do before_sum[$path]="$size $sum"; done <"$work/files.before"
while read -r size sum path; do after_sum[$path]="$size $sum"; done <"$work/files.after"
replaced=0 added=0 deleted=0 same=0
while IFS= read -r path; do
  b=${before_sum[$path]:-} a=${after_sum[$path]:-}
  if [[ -n "$b" && -n "$a" ]]; then
    if [[ "$b" == "$a" ]]; then same=$((same + 1)); continue; fi
    printf '  replaced  %-46s %8s -> %8s bytes\n' "C:\\${path//\//\\}" "${b%% *}" "${a%% *}"
    replaced=$((replaced + 1))
  elif [[ -n "$a" ]]; then
    printf '  added     %-46s %8s bytes\n' "C:\\${path//\//\\}" "${a%% *}"
    added=$((added + 1))
  else
    printf '  deleted   %s\n' "C:\\${path//\//\\}"
    deleted=$((deleted + 1))
  fi
done < <(printf '%s\n' "${!before_sum[@]}" "${!after_sum[@]}" | LC_ALL=C sort -u)
echo "  $replaced replaced, $added added, $deleted deleted, $same unchanged"
# What the installer changed itself, before the restart: files it may delete
# at once (a shared file's last use), never one it is to replace.
touched=$({ diff "$work/files.before" <(echo "$files_installer") || true; } |
          sed -n 's/^< [0-9]* [0-9a-f]* //p' | sed 's|/|\\|g; s|^|C:\\|' | paste -sd, | sed 's/,/, /g')
if [[ -z "$touched" ]]; then
  echo "  before the restart the installer had changed none of these files"
else
  echo "  changed by the installer itself, before the restart: $touched"
fi

expected_files=$(snapshot "$sample/after/drive_c")
if [[ "$(cat "$work/files.after")" == "$expected_files" ]]; then
  echo "  all $(wc -l <"$work/files.after") files match build/sample/after byte for byte"
else
  mismatch=$({ diff <(echo "$expected_files") "$work/files.after" || true; } |
             sed -n 's/^[<>] [0-9]* [0-9a-f]* //p' | LC_ALL=C sort -u | sed 's|/|\\|g; s|^|C:\\|')
  echo "  differ from build/sample/after:"
  echo "    ${mismatch//$'\n'/$'\n'    }"
  problems+=("$(wc -l <<<"$mismatch") file(s) differ from the expected state")
fi

# Shared counts.
echo
echo "Shared file counts (HKLM\\...\\CurrentVersion\\SharedDLLs), before -> after the restart:"
declare -A count_before=() count_after=()
if [[ -f "$work/shared.before.reg" && -f "$work/shared.after.reg" ]]; then
  while IFS='=' read -r k v; do count_before[$k]=$v; done < <(shared_counts "$work/shared.before.reg")
  while IFS='=' read -r k v; do count_after[$k]=$v; done < <(shared_counts "$work/shared.after.reg")
  changed=0
  while IFS= read -r k; do
    [[ -n "$k" ]] || continue
    b=${count_before[$k]:-(none)} a=${count_after[$k]:-(none)}
    [[ "$b" == "$a" ]] && continue
    printf '  %-14s %6s -> %s\n' "${k##*\\}" "$b" "$a"
    changed=$((changed + 1))
  done < <(printf '%s\n' "${!count_before[@]}" "${!count_after[@]}" | LC_ALL=C sort -u)
  echo "  $changed count(s) changed, $(( ${#count_after[@]} )) entries now"
  expected_counts=$(shared_counts "$sample/after/machine.reg")
  if [[ "$(shared_counts "$work/shared.after.reg")" == "$expected_counts" ]]; then
    echo "  all counts match build/sample/after/machine.reg"
  else
    echo "  differ from build/sample/after/machine.reg (< expected, > found):"
    { diff <(echo "$expected_counts") <(shared_counts "$work/shared.after.reg") || true; } | grep '^[<>]' |
      sed 's/^/    /'
    problems+=("shared counts differ from the expected state")
  fi
else
  echo "  (could not export the registry; Wine's output is in $work)"
  problems+=("registry export failed")
fi

echo
if [[ ${#problems[@]} -eq 0 ]]; then
  echo "VERDICT: patch applied and verified after restart"
  exit 0
fi
reasons=$(printf '%s; ' "${problems[@]}")
echo "VERDICT: FAILED (${reasons%; })"
exit 1
