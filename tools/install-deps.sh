#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Veltrano need.
# Quick when they are all present already; needs root (or sudo) otherwise.
set -euo pipefail

packages=(
  cmake g++ make libgtest-dev libgmock-dev   # build and unit tests
  clang-format                              # tools/check-format.sh
  clang-14 libclang-rt-14-dev               # tools/fuzz.sh (clang++, libFuzzer)
  python3                                   # test tools
  gnupg                                     # PGP tests (tools/pgp.exe runs gpg)
  postfix                                   # local mail server for the mail tests and the demo
  dpkg-dev lintian debootstrap              # packaging/check-deb.sh (the Debian package,
  debian-archive-keyring file               # its lint and its install into a fresh tree)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq
# Postfix asks how it is used; answer "Local only" for this machine's name so
# the install runs without questions. tools/postfix-start.sh then narrows it
# to the loopback address.
if printf '%s\n' "${missing[@]}" | grep -qx postfix; then
  mailname=$(hostname -f 2>/dev/null || hostname)
  printf '%s\n' \
    "postfix postfix/main_mailer_type select Local only" \
    "postfix postfix/mailname string $mailname" \
    | $sudo debconf-set-selections
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
