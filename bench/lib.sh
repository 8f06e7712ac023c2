#!/usr/bin/env bash
# Shared by the section scripts: reading Google Benchmark's JSON output,
# printing table rows, quoting hyperfine's commands. Sourced, not run.
set -euo pipefail

# quoted WORD...: the words quoted for a command line hyperfine runs (by the
# shell, or split by itself with -N), whatever characters a path holds.
quoted() {
  local q
  printf -v q '%q ' "$@"
  printf '%s' "${q% }"
}

# gbench_value FILE NAME FIELD: FIELD ("real_time", or a counter) of the
# benchmark entry called NAME (e.g. "BM_WholeRun/nt:1/manual_time_median").
gbench_value() {
  awk -v want="$2" -v field="$3" '
    /"name":/ { name = $0; sub(/.*"name": *"/, "", name); sub(/".*/, "", name) }
    name == want && $0 ~ "\"" field "\":" {
      value = $0; sub(/.*": */, "", value); sub(/,$/, "", value); print value; exit
    }' "$1"
}

# ratio A B [DIGITS]: A / B
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-2}" 'BEGIN { if (b == 0) print "-"; else printf "%.*f\n", d, a / b }'; }

# verdict CONDITION-AS-AWK-EXPRESSION: "met" or "not met"
verdict() { awk "BEGIN { print ($1) ? \"met\" : \"not met\" }"; }

# row FIGURE OURS REFERENCE RATIO GOAL VERDICT
row() { printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@"; }
