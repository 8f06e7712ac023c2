#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is
# missing. Needs root for the install; does nothing when all are present.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev          # host build and unit tests
  gcc-mingw-w64-i686 g++-mingw-w64-i686 binutils-mingw-w64-i686  # the PE
  wine wine32:i386 xvfb xauth                 # end-to-end runs under Wine
  nasm dosbox                                 # the DOS patcher fixture, run by Wine in DOSBox
  xdelta3 mscompress libmspack-dev            # patch data, payload, LZ expansion
  clang libclang-rt-14-dev                    # fuzzing (libFuzzer, sanitizers)
  cppcheck clang-tidy shellcheck              # scripts/lint.sh
  imagemagick                                 # the demo's screenshots, BMP to PNG
)
# scripts/bench.sh: the benchmarks and the tools measured beside ours.
if [ "${1:-}" = "--bench" ]; then
  packages+=(libbenchmark-dev hyperfine bsdiff nsis bsdextrautils)
fi

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)" != 'install ok installed' ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages and not root: install them with apt-get as root." >&2
  exit 1
fi
# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
