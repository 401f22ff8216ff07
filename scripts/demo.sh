#!/usr/bin/env bash
# Installs what is missing, builds Quarn, quarn-cli and quarn-sim, and runs the demo
# (scripts/demo-run.sh): simulated devices on PTYs and Quarn, or with --cli a shell for
# quarn-cli, in a private working folder made from the repository's examples.
#
# usage: scripts/demo.sh [--cli] [arguments for quarn]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target quarn quarn-sim quarn-cli

exec scripts/demo-run.sh build/release "$@"
