#!/usr/bin/env bash
# Builds the installer and runs it under Wine on a fresh 32-bit prefix that
# holds the sample installation (Tolvane Wayfront 95.0.b and its registry),
# answering as a user would: Yes to the upgrade, No to the restart. Then it
# says what the installer showed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/deps.sh
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
echo "Building..."
cmake --build build -j"$(nproc)" >/dev/null

set +eu
source tests/wine/lib.sh
template=$root/build/tests/wine/prefix-template
wf_make_template "$template" >/dev/null || exit 1
work=$root/build/demo
wf_scenario_start "$template"
wf_install_sample_files "$root/build/sample/before"
echo "Running build/dist/wfpatch.exe under Wine (answers: Yes, then No)..."
wf_run_installer "$root/build/dist/wfpatch.exe" "$root/build/tests/wine/boxanswer.exe" Yes,No \
    "$root/build/sample/before/machine.reg" >/dev/null

echo
echo "What the installer showed:"
while IFS= read -r line; do
  case "$line" in
    box\|*)
      echo "  box ($(wf_box_field "$line" buttons), owner: $(wf_box_field "$line" owner)):" \
           "\"${line#*|text=}\" -> $(wf_box_field "$line" answer)" ;;
    status\|*) echo "  progress dialog: \"${line#status|text=}\"" ;;
    exit\|*)   echo "  the installer ended with exit code ${line#exit|}" ;;
    timeout)   echo "  the installer did not finish within $BOX_TIMEOUT s" ;;
  esac
done < "$log"
