#!/usr/bin/env bash
# The Debian package as a user gets it: `make package` builds it, lintian checks it (no errors), the menu
# entry, AppStream data, icons and manual pages it ships are validated, and then it is installed with
# apt-get into a clean Debian 12 root (debootstrap's minimal base from the same package source), where
# both programs must start.
#
# Needs root (chroot, mounts) and the network to the Debian archive. The clean root is made once and kept
# as build/package-test/bookworm-minbase.tar; the packages apt downloads and its lists are kept beside it,
# so a second run downloads only what changed. Exit status 0 when every check passed.
set -euo pipefail
cd "$(dirname "$0")/.."

SUITE=bookworm
MIRROR=${VOX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
SECURITY=${VOX_DEBIAN_SECURITY:-http://deb.debian.org/debian-security}
WORK=$PWD/build/package-test
ROOT=$WORK/root
TARBALL=$WORK/$SUITE-minbase.tar

started=$(date +%s)
failures=0
checks=0
check() {  # check WHAT COMMAND...: runs COMMAND, counts it, says what failed and how long it took
  local what=$1 begun
  shift
  checks=$((checks + 1))
  begun=$(date +%s)
  if "$@"; then
    echo "ok: $what ($(($(date +%s) - begun)) s)"
  else
    echo "FAILED: $what ($(($(date +%s) - begun)) s)"
    failures=$((failures + 1))
  fi
}

if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: needs root (debootstrap, chroot and mounts)" >&2
  exit 1
fi

make --no-print-directory package
bash scripts/install-deps.sh test  # lintian, appstream, desktop-file-utils, debootstrap
version=$(sed -n 's/^project(VoxLetter VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$PWD/build/voxletter_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "package-test: $deb was not built" >&2; exit 1; }

# --- the package itself ---------------------------------------------------------------------------
check "lintian finds no errors" lintian --fail-on error --tag-display-limit 0 "$deb"

unpacked=$(mktemp -d)
# Unmounts what is mounted in the root, by this run or by one that was interrupted, then removes it; a
# root that still has something mounted is left alone, so the kept downloads are never removed through
# a bind mount.
remove_root() {
  local mount
  while read -r mount; do
    umount "$mount" 2>/dev/null || umount -l "$mount"
  done < <(awk -v root="$ROOT/" 'index($2, root) == 1 { print $2 }' /proc/self/mounts | sort -r)
  if [ -d "$ROOT" ] && ! grep -q " $ROOT/" /proc/self/mounts; then rm -rf --one-file-system "$ROOT"; fi
}
cleanup() {
  remove_root
  rm -rf "$unpacked"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$unpacked"
share=$unpacked/usr/share

check "desktop entry valid" desktop-file-validate "$share/applications/voxletter.desktop"
check "AppStream data valid" appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml

# Icons: named as the entry's Icon=, square, in the folder of their size, 48x48 or larger.
icons_ok() {
  local name size found=0 file
  name=$(sed -n 's/^Icon=//p' "$share/applications/voxletter.desktop")
  for file in "$share"/icons/hicolor/*/apps/*; do
    size=$(basename "$(dirname "$(dirname "$file")")")
    [ "$(basename "$file")" = "$name.png" ] || { echo "  $file is not named $name.png"; return 1; }
    file -b "$file" | grep -q "${size/x/ x }," || { echo "  $file is not $size"; return 1; }
    [ "${size%%x*}" -ge 48 ] || { echo "  $file is smaller than 48x48"; return 1; }
    found=$((found + 1))
  done
  [ "$found" -gt 0 ]
}
check "icons in hicolor at their sizes, named as Icon=" icons_ok

# Every program has its manual page, and groff reads each without a warning.
manuals_ok() {
  local program page out
  for program in "$unpacked"/usr/bin/*; do
    page=$share/man/man1/$(basename "$program").1.gz
    [ -f "$page" ] || { echo "  no manual page for $(basename "$program")"; return 1; }
    out=$(zcat "$page" | LC_ALL=C.UTF-8 preconv | groff -man -ww -z -Tutf8 2>&1)
    [ -z "$out" ] || { echo "  $page: $out"; return 1; }
  done
}
check "a manual page per program" manuals_ok

# --- installed in a clean Debian 12 ---------------------------------------------------------------
mkdir -p "$WORK/archives" "$WORK/lists"
if [ ! -f "$TARBALL" ]; then
  echo "package-test: making a clean $SUITE root (once; kept as $TARBALL)"
  rm -rf "$WORK/root.new"
  debootstrap --variant=minbase "$SUITE" "$WORK/root.new" "$MIRROR" >"$WORK/debootstrap.log" 2>&1 ||
    { tail -20 "$WORK/debootstrap.log" >&2; exit 1; }
  tar -C "$WORK/root.new" --numeric-owner -cf "$TARBALL.part" .
  mv "$TARBALL.part" "$TARBALL"
  rm -rf --one-file-system "$WORK/root.new"
fi
remove_root  # one left by an interrupted run
mkdir -p "$ROOT"
tar -C "$ROOT" --numeric-owner -xf "$TARBALL"

cat >"$ROOT/etc/apt/sources.list" <<EOF
deb $MIRROR $SUITE main
deb $MIRROR $SUITE-updates main
deb $SECURITY $SUITE-security main
EOF
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
cp "$deb" "$ROOT/tmp/"
for dir in var/cache/apt/archives var/lib/apt/lists; do
  mkdir -p "$ROOT/$dir"
  mount --bind "$WORK/$(basename "$dir")" "$ROOT/$dir"
done
mount -t proc proc "$ROOT/proc"

in_root() { chroot "$ROOT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

install_ok() {
  in_root apt-get update -q >"$WORK/apt.log" 2>&1 &&
    in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      "/tmp/$(basename "$deb")" >>"$WORK/apt.log" 2>&1 ||
    { tail -20 "$WORK/apt.log"; return 1; }
}
check "apt-get install ./$(basename "$deb") in a clean $SUITE (depends only)" install_ok

# prints COMMAND...: the command's standard output equals the text, exit status 0.
prints() {
  local want=$1 got
  shift
  got=$(in_root "$@") || { echo "  exit status $?"; return 1; }
  [ "$got" = "$want" ] || { echo "  printed: $got"; return 1; }
}
starts_with_usage() {
  local out
  out=$(in_root "$1" --help) || return 1
  case "$out" in "Usage: $1 "*) return 0 ;; esac
  echo "  began: ${out%%$'\n'*}"
  return 1
}
no_display() {  # one line on standard error, exit status 1, nothing else
  local err status=0
  err=$(in_root voxletter 2>&1 >/dev/null) || status=$?
  [ "$status" -eq 1 ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || { echo "  $status: $err"; return 1; }
}
opens_offscreen() {  # the composer still runs after 5 s on Qt's offscreen platform: ended by timeout
  local status=0
  in_root env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp timeout 5 voxletter >/dev/null 2>&1 || status=$?
  [ "$status" -eq 124 ] || { echo "  exit status $status"; return 1; }
}
composes() {
  in_root voxletter-cli compose --from me@example.org --to you@example.org --subject 你好 --body hello |
    grep -qF 'Subject: =?UTF-8?B?5L2g5aW9?='
}
check "voxletter-cli --version" prints "voxletter-cli $version" voxletter-cli --version
check "voxletter --version" prints "voxletter $version" voxletter --version
check "voxletter-cli --help begins with Usage:" starts_with_usage voxletter-cli
check "voxletter --help begins with Usage:" starts_with_usage voxletter
check "voxletter without a display: one line, exit 1" no_display
check "voxletter opens the composer on the offscreen platform" opens_offscreen
check "voxletter-cli compose writes a mail" composes

remove_root
echo "package-test took $(($(date +%s) - started)) s"
echo "package-test: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
