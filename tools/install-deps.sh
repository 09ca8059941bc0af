#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Veltrano need.
# Quick when they are all present already; needs root (or sudo) otherwise.
set -euo pipefail

packages=(
  cmake g++ make libgtest-dev libgmock-dev   # build and unit tests
  python3                                   # test tools
  gnupg                                     # PGP tests (tools/pgp.exe runs gpg)
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
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
