#!/usr/bin/env bash
# Installs what is missing, builds Quarn and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)"

if [ ! -x build/release/app/quarn ]; then
  echo "Quarn's window is not built yet: only the libraries and their tests exist so far."
  exit 0
fi
exec build/release/app/quarn "$@"
