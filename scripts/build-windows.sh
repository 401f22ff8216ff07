#!/bin/bash
# Cross-builds quarn.exe and quarn-cli.exe for 64-bit Windows on Debian 12: installs what is
# missing (MinGW-w64, Wine, zip, NSIS), builds FOX 1.6 for MinGW once into a cache outside the
# repository, builds Quarn into build/windows and packs build/windows/quarn-<version>-win64.zip
# (and, when NSIS can build it, an installer next to it).
#
#   scripts/build-windows.sh            everything
#   scripts/build-windows.sh --tests    also the plain libraries' unit tests, run under Wine with
#                                       ctest --test-dir build/windows
#   QUARN_WIN_CACHE=/some/dir ...        where FOX's source and build are kept
#                                        (default ~/.cache/quarn-win)
#   QUARN_WIN_NO_INSTALL=1 ...           never call apt-get (fail when something is missing)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${QUARN_WIN_CACHE:-${HOME:-/tmp}/.cache/quarn-win}
build=$repo/build/windows
fox_version=1.6.57
fox_prefix=$cache/fox-$fox_version-mingw64
host=x86_64-w64-mingw32
jobs=${QUARN_JOBS:-$(nproc 2>/dev/null || echo 2)}
tests=OFF
[ "${1:-}" = --tests ] && tests=ON

say() { printf '== %s\n' "$*"; }

# Another installation may hold apt's lock for a while.
wait_lock=(-o DPkg::Lock::Timeout=600)

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# The URIs of the machine's own deb entries for a suite, from one-line and deb822 source files.
apt_deb_uris() {  # apt_deb_uris <suite>
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case $f in
      *.sources)  # stanzas of Types:, URIs:, Suites:, separated by blank lines
        awk -v suite="$1" '
          function flush() {
            if (types ~ /(^|[ \t])deb([ \t]|$)/ && (" " suites " ") ~ (" " suite " ")) {
              n = split(uris, u, /[ \t]+/); for (k = 1; k <= n; k++) if (u[k] != "") print u[k]
            }
            types = ""; uris = ""; suites = ""
          }
          /^[ \t]*$/ { flush(); next }
          $1 == "Types:" { types = $0 }
          $1 == "URIs:" { uris = $0; sub(/^URIs:[ \t]*/, "", uris) }
          $1 == "Suites:" { suites = $0; sub(/^Suites:[ \t]*/, "", suites) }
          END { flush() }' "$f" ;;
      *)  # deb [options] URI suite components
        awk -v suite="$1" '$1 == "deb" {
            i = 2
            if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
            if ($(i + 1) == suite) print $i
          }' "$f" ;;
    esac
  done | awk '!seen[$0]++' | paste -sd' '
}

# Packages by the program that shows they are there.
missing=()
need() {  # need <program> <package>
  command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need $host-g++-posix g++-mingw-w64-x86-64  # both thread variants; the build uses -posix
need $host-windres binutils-mingw-w64-x86-64
need wine wine
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null 2>&1 || missing+=(wine64)
need zip zip
need makensis nsis
need cmake cmake
need make make
need reswrap-1.6 libfox-1.6-dev
if [ ${#missing[@]} -gt 0 ]; then
  if [ -n "${QUARN_WIN_NO_INSTALL:-}" ]; then
    echo "missing packages: ${missing[*]}" >&2
    exit 1
  fi
  say "installing ${missing[*]}"
  as_root apt-get "${wait_lock[@]}" update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get "${wait_lock[@]}" install -y -q --no-install-recommends "${missing[@]}"
fi

# FOX's source: the .orig tarball of Debian's own source package, once.
fox_tarball=$cache/src/fox1.6_$fox_version.orig.tar.gz
if [ ! -f "$fox_tarball" ]; then
  mkdir -p "$cache/src"
  if ! apt-cache showsrc fox1.6 2>/dev/null | grep -q "^Version: $fox_version"; then
    [ -n "${QUARN_WIN_NO_INSTALL:-}" ] && { echo "no deb-src entry for fox1.6" >&2; exit 1; }
    # A source entry for the archive the binary packages already come from: the machine's own
    # deb entries name it, so a local mirror keeps working and no host is written here.
    # shellcheck disable=SC1091 # the running system's file, not ours to follow
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    uris=$(apt_deb_uris "$suite")
    [ -n "$uris" ] || { echo "no deb entry for $suite in the apt sources to base a deb-src entry on" >&2; exit 1; }
    say "adding a deb-src entry for $uris (/etc/apt/sources.list.d/quarn-deb-src.sources)"
    as_root tee /etc/apt/sources.list.d/quarn-deb-src.sources >/dev/null <<EOF
Types: deb-src
URIs: $uris
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    as_root apt-get "${wait_lock[@]}" update -q
  fi
  say "fetching FOX $fox_version's source"
  # Only the .orig tarball is needed; a mirror missing the Debian patch tarball is no obstacle.
  (cd "$cache/src" && apt-get "${wait_lock[@]}" source --download-only "fox1.6=$fox_version-1" >/dev/null) || true
  [ -f "$fox_tarball" ] || { echo "apt-get source gave no $fox_tarball" >&2; exit 1; }
  # The tarball must match the checksum that the archive's signed source index gives for it.
  want=$(apt-cache showsrc fox1.6 | awk -v f="$(basename "$fox_tarball")" \
    '/^Checksums-Sha256:/{s=1;next} /^[^ ]/{s=0} s && $3==f {print $1; exit}')
  have=$(sha256sum "$fox_tarball" | cut -d' ' -f1)
  if [ -z "$want" ] || [ "$want" != "$have" ]; then
    rm -f "$fox_tarball"
    echo "$fox_tarball does not match the archive's checksum" >&2
    exit 1
  fi
fi

# FOX for MinGW: a static library without X11 or image libraries, built once.
if [ ! -f "$fox_prefix/.built" ]; then
  say "building FOX $fox_version for $host (once; a few minutes)"
  started=$(date +%s)
  rm -rf "$cache/fox-build" "$fox_prefix"
  mkdir -p "$cache/fox-build"
  tar -xzf "$fox_tarball" -C "$cache/fox-build"
  src=$(find "$cache/fox-build" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  (
    cd "$src"
    ./configure --host=$host --prefix="$fox_prefix" --disable-shared --enable-static --enable-release \
      --without-x --without-xft --without-xshm --without-shape --without-xcursor --without-xrender \
      --without-xrandr --without-xfixes --without-xinput --without-xim --with-opengl=no \
      --disable-jpeg --disable-png --disable-tiff --disable-zlib --disable-bz2lib >"$cache/fox-configure.log" 2>&1
    nice make -C src -j"$jobs" RESWRAP=reswrap-1.6 >"$cache/fox-make.log" 2>&1
  ) || { echo "FOX build failed; see $cache/fox-configure.log and $cache/fox-make.log" >&2; exit 1; }
  mkdir -p "$fox_prefix/lib" "$fox_prefix/include/fox-1.6"
  cp "$src"/src/.libs/libFOX-1.6.a "$fox_prefix/lib/"
  cp "$src"/include/*.h "$fox_prefix/include/fox-1.6/"
  echo "$(( $(date +%s) - started )) s" >"$fox_prefix/.built"
  say "FOX built in $(cat "$fox_prefix/.built")"
fi

say "building Quarn for Windows into $build"
# ccache, where it is installed, keeps the objects of one run for the next.
launcher=()
command -v ccache >/dev/null 2>&1 &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQUARN_FOX_PREFIX="$fox_prefix" -DQUARN_WERROR=ON -DQUARN_BUILD_TESTS=$tests \
  "${launcher[@]}" >/dev/null
nice cmake --build "$build" -j"$jobs"

# The zip: the program and quarn-cli, the help page, an example configuration and the key folders.
version=$(sed -n 's/^project(Quarn VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
stage=$build/stage/quarn-$version
rm -rf "$build/stage"
mkdir -p "$stage"
cp "$build/app/quarn.exe" "$build/cli/quarn-cli.exe" "$stage/"
cp -r "$repo/help" "$stage/"
cp "$repo/Quarnconfig.txt" "$stage/"
cp -r "$repo/dongleKeys" "$repo/meterKeys" "$stage/"
zip_file=$build/quarn-$version-win64.zip
rm -f "$zip_file"
(cd "$build/stage" && zip -qr "$zip_file" "quarn-$version")
say "zip: $zip_file"

# The installer, when NSIS is there and its script builds.
if [ -f "$repo/packaging/windows/quarn.nsi" ] && command -v makensis >/dev/null 2>&1; then
  installer=$build/quarn-$version-setup.exe
  if makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$installer" \
      "$repo/packaging/windows/quarn.nsi"; then
    say "installer: $installer"
  else
    say "the installer did not build (makensis failed); the zip is complete"
  fi
fi
