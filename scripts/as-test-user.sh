#!/usr/bin/env bash
# Runs a command as the unprivileged account quarn-test, with a scratch HOME, from the repository's
# root; each --writable DIR before the command is given to that account (the test runner keeps
# its records in the build folder). Root ignores file modes and exclusive opens, so the tests that touch ports, files or the
# real program run a second time through this when the test command itself runs as root (as CI
# does). Creates the account on first use and makes the repository reachable for it: folders
# above it that others may not enter get o+x (enter only, no listing), and each change is said.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
user=quarn-test

if [ "$(id -u)" -ne 0 ]; then
  echo "as-test-user.sh: needs root to switch to $user" >&2
  exit 2
fi

if ! id -u "$user" >/dev/null 2>&1; then
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
fi
uid=$(id -u "$user")
gid=$(id -g "$user")

writable=()
while [ "${1:-}" = --writable ]; do
  writable+=("$2")
  shift 2
done

as_user() {
  setpriv --reuid "$uid" --regid "$gid" --init-groups --inh-caps=-all "$@"
}

dir=$root
while [ "$dir" != / ]; do
  if ! as_user test -x "$dir"; then
    chmod o+x "$dir"
    echo "as-test-user.sh: $dir made enterable for $user (chmod o+x)"
  fi
  dir=$(dirname "$dir")
done

for path in "${writable[@]}"; do
  mkdir -p "$path"
  chown -R "$uid:$gid" "$path"
done

scratch=$(mktemp -d /tmp/quarn-test-user-XXXXXX)
chown "$uid:$gid" "$scratch"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/out"
chown "$uid:$gid" "$scratch/home" "$scratch/out"

status=0
as_user env -i PATH="$PATH" HOME="$scratch/home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 \
  TMPDIR=/tmp QUARN_TEST_OUTPUT="$scratch/out" ${CI:+CI="$CI"} \
  ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
  "$@" || status=$?
exit "$status"
