#!/usr/bin/env bash
# Installs what is missing, builds Quarn and starts it from the repository's root, where
# Quarnconfig.txt, dongleKeys/, meterKeys/ and help/ are found.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)"

if [ ! -x build/release/app/quarn ]; then
  echo "The quarn program was not built; see the build output above."
  exit 1
fi

echo "Starting Quarn from $(pwd) (configuration: Quarnconfig.txt, keys: dongleKeys/ and meterKeys/)."
echo "For now this shows the window only: choosing wired or wireless operation is not built yet,"
echo "and the wired demo against the quarn-sim converter simulator comes next."
exec build/release/app/quarn "$@"
