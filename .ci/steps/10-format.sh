#!/bin/bash
# The tree stays in the house style: scripts/format.sh --check names every
# C++ file that differs from what .clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/format.sh --check
echo "format: every C++ file is in the house style"
