#!/usr/bin/env bash
# Line coverage of the product code (not tests, sim, bench) over the whole CTest run of a
# --coverage build: scripts/coverage.sh [BUILD_DIR]. Prints gcovr's summary; the full table goes
# to BUILD_DIR/coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/coverage}
scripts/install-deps.sh
if ! command -v gcovr >/dev/null; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends gcovr
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUARN_HARDEN=OFF \
  "-DCMAKE_CXX_FLAGS=--coverage -fprofile-update=atomic" "-DCMAKE_C_FLAGS=--coverage -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$jobs"
find "$build" -name '*.gcda' -delete
xvfb-run -a -s "-screen 0 1600x1000x24 -noreset" ctest --test-dir "$build" -j "$jobs" >"$build/ctest.txt" 2>&1 || true
tail -n 3 "$build/ctest.txt"
gcovr -r . --object-directory "$build" -e 'tests/' -e 'sim/' -e 'bench/' -e "$build/" \
  --gcov-ignore-parse-errors --txt "$build/coverage.txt" --print-summary -j "$jobs"
