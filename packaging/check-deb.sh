#!/usr/bin/env bash
# Builds the Debian package from a clean build directory
# (packaging/build-deb.sh), runs lintian on it,
# installs it with apt-get into a fresh Debian 12 minbase tree (debootstrap)
# and checks what got installed, including the maintainer scripts' handling of
# /var/lib/veltrano on reinstall and purge. Nothing outside OUT is written:
# the package goes into the tree through chroot, and every mount lives in a
# private mount namespace that ends with its command.
#
#     packaging/check-deb.sh [--remove-tree] [OUT]
#
# OUT (default build-deb/ in the checkout) is removed first and then holds
# cmake/ (the build), build.log, the .deb, and tree/, the installed system with the
# package configured; use it with `chroot OUT/tree ...`. The tree is kept
# for later tests (and after a failure) unless --remove-tree is given; the
# last lines printed name it.
#
# Needs root, cmake, g++, dpkg-dev, lintian, debootstrap and the Debian mirror
# that apt uses (VELTRANO_DEB_MIRROR overrides it).
set -euo pipefail
src=$(realpath "$(dirname "$0")/..")

remove_tree=0
if [ "${1:-}" = --remove-tree ]; then
  remove_tree=1
  shift
fi
out=$(realpath -m "${1:-$src/build-deb}")
cd "$src"
tree=$out/tree
suite=bookworm
start=$SECONDS

fail() {
  echo "check-deb: $*" >&2
  exit 1
}
step() { echo "== $* ($((SECONDS - start)) s)"; }

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot)"
case "$out" in / | /usr | /usr/* | /etc | /etc/* | /var | /var/lib | /var/lib/*) fail "refusing OUT=$out" ;; esac
# A mount left below OUT (a test's /proc in the tree) must not be deleted through.
if findmnt -rn -o TARGET | grep -q "^$out/"; then
  fail "something is mounted below $out; unmount it first"
fi
rm -rf --one-file-system "$out"
mkdir -p "$out"

step "Building the package in $out/cmake"
deb=$("$src/packaging/build-deb.sh" "$out") || fail "the package did not build"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Suggests
dpkg-deb --contents "$deb" | awk '{print $1, $2, $6}'

step "lintian"
lintian --info --display-info --fail-on error,warning "$deb"

step "Debian $suite minbase tree in $tree"
mirror=${VELTRANO_DEB_MIRROR:-}
# apt's sources for this release (main component), as apt itself reads them.
sources=$(apt-get indextargets --no-release-info \
  --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' |
  awk -v s="$suite" '$1 == "deb" && $4 == "main" && ($3 == s || index($3, s "-") == 1) {print $1, $2, $3, $4}' |
  sort -u)
if [ -z "$mirror" ]; then
  mirror=$(awk -v s="$suite" '$3 == s {print $2; exit}' <<<"$sources")
  mirror=${mirror:-http://deb.debian.org/debian}
fi
# debootstrap's downloads ignore apt's proxy setting; pass it on.
if [ -z "${http_proxy:-}" ]; then
  eval "$(apt-config shell http_proxy Acquire::http::Proxy)"
  [ -n "${http_proxy:-}" ] && export http_proxy
fi
unshare --mount --propagation private \
  debootstrap --variant=minbase "$suite" "$tree" "$mirror" >"$out/debootstrap.log" 2>&1 || {
  tail -n 30 "$out/debootstrap.log" >&2
  fail "debootstrap failed (log: $out/debootstrap.log)"
}
# The same suites as this machine (updates, security), and no services
# started by packages installed into the tree.
[ -n "$sources" ] && [ -z "${VELTRANO_DEB_MIRROR:-}" ] && echo "$sources" >"$tree/etc/apt/sources.list"
printf '#!/bin/sh\nexit 101\n' >"$tree/usr/sbin/policy-rc.d"
chmod 0755 "$tree/usr/sbin/policy-rc.d"
cp "$deb" "$tree/tmp/"

# in_tree COMMAND...: runs COMMAND inside the tree with /proc mounted, as a
# web server's CGI would see the system (same PATH).
in_tree() {
  unshare --mount --propagation private sh -c 'mount -t proc proc "$0/proc" && exec chroot "$0" "$@"' \
    "$tree" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${http_proxy:+http_proxy=$http_proxy} DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 "$@"
}

step "apt-get install ./$(basename "$deb") in the tree"
# Without a terminal in the tree apt must not ask dpkg for one.
apt_get() { in_tree apt-get -o Dpkg::Use-Pty=0 "$@"; }
# Fresh package lists let apt fetch a dependency the tree lacks; the install
# itself needs none when debootstrap brought everything.
apt_get update -qq >"$out/apt.log" 2>&1 || echo "check-deb: apt-get update failed in the tree (see $out/apt.log)" >&2
apt_get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >>"$out/apt.log" 2>&1 || {
  cat "$out/apt.log" >&2
  fail "apt-get install failed"
}

step "Checking the installed files"
errors=0
# check WHAT GOT WANT
check() {
  if [ "$2" = "$3" ]; then
    printf 'ok    %s: %s\n' "$1" "$2"
  else
    printf 'FAIL  %s: got %s, want %s\n' "$1" "$2" "$3"
    errors=$((errors + 1))
  fi
}
mode() { in_tree stat -c '%U:%G %a %F' "$1" 2>&1 || true; }
datadir_state() { in_tree sh -c 'if [ -e /var/lib/veltrano ]; then stat -c "%U:%G %a" /var/lib/veltrano; else echo absent; fi'; }

check "program" "$(mode /usr/lib/cgi-bin/veltrano2.exe)" "root:root 755 regular file"
check "pgp adapter" "$(mode /usr/libexec/veltrano/pgp.exe)" "root:root 755 regular file"
check "data directory" "$(datadir_state)" "www-data:www-data 750"
for f in README.md copyright changelog.gz examples/contact.tpl docs/README.md docs/install.md; do
  check "/usr/share/doc/veltrano/$f" "$(mode "/usr/share/doc/veltrano/$f")" "root:root 644 regular file"
done
check "pgp.exe not among the commands" "$(in_tree sh -c 'command -v pgp.exe || echo none')" none
check "pgp.exe usage exit status" \
  "$(in_tree sh -c '/usr/libexec/veltrano/pgp.exe >/dev/null 2>&1; echo $?')" 2
check "stripped program" "$(file -b "$tree/usr/lib/cgi-bin/veltrano2.exe" | grep -o 'not stripped\|stripped' || true)" stripped
# Without REQUEST_METHOD the program answers a person at a console: it starts
# in the clean system with the libraries the package depends on.
check "program runs" "$(in_tree /usr/lib/cgi-bin/veltrano2.exe </dev/null >/dev/null 2>&1; echo $?)" 0

step "Maintainer scripts: reinstall and purge keep data and the administrator's mode"
reinstall() { in_tree dpkg -i "/tmp/$(basename "$deb")" >/dev/null; }
purge() { in_tree dpkg --purge veltrano 2>&1 >/dev/null | grep -v '^dpkg: warning' || true; }
in_tree chmod 0770 /var/lib/veltrano
reinstall
check "mode kept on reinstall" "$(datadir_state)" "www-data:www-data 770"
in_tree touch /var/lib/veltrano/contact.csv
check "purge message with data" "$(purge)" "veltrano: /var/lib/veltrano was kept: it is not an empty directory"
check "data kept on purge" "$(in_tree ls /var/lib/veltrano)" contact.csv
in_tree rm /var/lib/veltrano/contact.csv
check "empty directory kept on remove" "$(reinstall && in_tree dpkg --remove veltrano >/dev/null && datadir_state)" "www-data:www-data 770"
purge >/dev/null
check "empty directory goes on purge" "$(datadir_state)" absent
reinstall
check "data directory after a new install" "$(datadir_state)" "www-data:www-data 750"
rm -f "$tree/tmp/$(basename "$deb")"

[ "$errors" -eq 0 ] || fail "$errors check(s) failed"
if [ "$remove_tree" -eq 1 ]; then
  rm -rf --one-file-system "$tree"
  step "Package $deb checked; tree removed"
else
  step "Package $deb checked"
  echo "Installed tree (veltrano configured, services never started): $tree"
  echo "  use: chroot $tree ...   remove: rm -rf --one-file-system $out"
fi
