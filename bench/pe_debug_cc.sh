#!/usr/bin/env bash
# The compiler and linker launcher of bench/delta_pairs.sh's larger pairs:
# runs the command it is given without the PE build's size settings
# (-Oz/-Os, link-time optimisation, stripping, warnings as errors) and with
# -O2 -g instead, so that a program carries its debug information, as a
# product's builds with symbols do; each program grows to a few hundred KB.
set -euo pipefail
args=()
for a in "$@"; do
  case $a in
    -s | -Oz | -Os | -Werror | -flto) ;;
    *) args+=("$a") ;;
  esac
done
exec "${args[@]}" -O2 -g
