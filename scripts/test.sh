#!/usr/bin/env bash
# Installs what is missing, builds Quarn twice (plain with -Werror, and with ASan+UBSan)
# and runs every test; GUI tests run under Xvfb when no display is set. Run as root (as CI
# does), it runs the tests labelled asuser once more as an unprivileged account.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s)
# Each part says when it starts, in seconds since the command began.
section() { echo "== $* (at $(( $(date +%s) - started )) s)"; }

section "build (release, -Werror)"
cmake -S . -B build/release -DQUARN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"

section "build (ASan+UBSan)"
# The sanitizer build covers the plain libraries and their tests; FOX itself is not instrumented.
cmake -S . -B build/asan -DQUARN_WERROR=ON -DQUARN_SANITIZE=ON -DQUARN_BUILD_GUI=OFF \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/asan -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# -noreset: the shared server would otherwise reset each time its last client leaves, dropping a
# test that connected at that moment; with tests starting and ending side by side, that happens.
run_ctest() {
  if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1600x1000x24 -noreset" ctest --test-dir "$1" --output-on-failure -j "$jobs"
  else
    ctest --test-dir "$1" --output-on-failure -j "$jobs"
  fi
}

section "tests (release build)"
run_ctest build/release
section "tests (ASan+UBSan build)"
run_ctest build/asan

# Root ignores file modes and exclusive opens, so what touches ports, files or the real program
# (label asuser) runs again as an unprivileged account, on an X server of its own.
if [ "$(id -u)" -eq 0 ]; then
  section "tests as the unprivileged user quarn-test (release build, label asuser)"
  # The test lists are written into the build folder as root; the listing here keeps them current.
  ctest --test-dir build/release -N >/dev/null
  scripts/as-test-user.sh --writable build/release/Testing \
    xvfb-run -a -s "-screen 0 1600x1000x24 -noreset" \
    ctest --test-dir build/release -L asuser --output-on-failure -j "$jobs"
fi

# The Windows build: FOX for MinGW is built once into ~/.cache/quarn-win (minutes on a fresh
# machine, seconds after), then the plain libraries' unit tests run under Wine, and quarn.exe's
# smoke run drives it against quarn-sim through pseudo-terminals mapped as COM ports (the stick
# unplugged and plugged back, the key files' warnings among it), and the installer makes its
# round trip in a fresh prefix. Users run it from an ordinary account, so as root all run as
# quarn-test; the screenshots stay in build/windows/smoke.
section "Windows build (MinGW-w64) and its tests under Wine"
windows_started=$(date +%s)
scripts/build-windows.sh --tests
# One at a time: the first Wine program makes the prefix, and two making it at once collide.
windows_tests='ctest --test-dir build/windows --output-on-failure && scripts/windows-test.sh build/windows/smoke &&
  scripts/windows-install-test.sh build/windows/install'
if [ "$(id -u)" -eq 0 ]; then
  scripts/as-test-user.sh --writable build/windows/Testing --writable build/windows/smoke \
    --writable build/windows/install bash -c "$windows_tests"
else
  bash -c "$windows_tests"
fi
echo "Windows section: $(( $(date +%s) - windows_started )) s"

# Real kernel drivers: a QEMU guest on Debian's kernel meets the stick through cdc_acm (a USB
# gadget), a wired converter through QEMU's FTDI adapter, and udev with the package's rule. The
# kernel is fetched once into ~/.cache/quarn-vm; it needs root (as CI has) and fails, never skips,
# when the rig cannot be built.
if [ "$(id -u)" -eq 0 ]; then
  section "real drivers in a QEMU guest"
  scripts/vm-test.sh build/release
fi

# A few seconds per fuzz target keeps every device and file input under the fuzzer at each
# run; scripts/fuzz.sh 600 is the long run.
section "fuzz targets (short run)"
scripts/fuzz.sh 3
section "done"
