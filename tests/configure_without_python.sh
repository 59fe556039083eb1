#!/bin/bash
# A build with the tests off needs no Python: it configures with every
# search for Python disabled, and nothing in the build it generates runs it.
#   configure_without_python.sh SOURCE_DIR
set -euo pipefail
source=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if ! cmake -S "$source" -B "$scratch/build" -DTOOLS_BUILD_TESTS=OFF \
     -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON -DCMAKE_DISABLE_FIND_PACKAGE_Python=ON \
     >"$scratch/configure.log" 2>&1; then
  echo "FAIL: the configuration without the tests needs Python:"
  cat "$scratch/configure.log"
  exit 1
fi
if grep -rIl --include='*.make' --include=Makefile -i 'python' "$scratch/build" >"$scratch/found"; then
  echo "FAIL: the build without the tests runs Python in:"
  cat "$scratch/found"
  exit 1
fi
echo "configured without Python"
