#!/usr/bin/env bash
# Builds the installer and runs it under Wine on a fresh 32-bit prefix,
# answering its questions as a user would (Yes to the upgrade, No to the
# restart), then says what it showed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/deps.sh
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

source tests/wine/prefix.sh
template=$root/build/tests/wine/prefix-template
demo=$root/build/demo
wf_make_template "$template" >/dev/null
mkdir -p "$demo"
wf_clone "$template" "$demo/prefix"
trap 'wf_stop "$demo/prefix"' EXIT

log=$demo/boxes.log
rm -f "$log"
echo "Running build/dist/wfpatch.exe under Wine (answers: Yes, then No)..."
# From C:\, so that the run has a Windows directory of its own to work in.
(cd "$demo/prefix/drive_c" &&
 wf_run "$demo/prefix" -- wine "$root/build/tests/wine/boxanswer.exe" "$(wf_winpath "$log")" 60 \
     "Tolvane Wayfront Patch" Yes,No "$(wf_winpath "$root/build/dist/wfpatch.exe")" \
     >"$demo/wine.out" 2>&1) || true

echo
echo "What the installer showed:"
while IFS= read -r line; do
  case "$line" in
    box\|*)
      buttons=$(tr '|' '\n' <<<"$line" | sed -n 's/^buttons=//p')
      owner=$(tr '|' '\n' <<<"$line" | sed -n 's/^owner=//p')
      answer=$(tr '|' '\n' <<<"$line" | sed -n 's/^answer=//p')
      echo "  box ($buttons, owner: $owner): \"${line#*|text=}\" -> $answer" ;;
    status\|*) echo "  progress dialog: \"${line#status|text=}\"" ;;
    exit\|*)   echo "  the installer ended with exit code ${line#exit|}" ;;
    timeout)   echo "  the installer did not finish within 60 s" ;;
  esac
done < "$log"
