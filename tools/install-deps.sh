#!/usr/bin/env bash
# Installs the Debian 12 packages that Veltrano's demo, build and tests need.
#
#     tools/install-deps.sh [--demo]
#
# With --demo only what tools/demo.sh needs: the build tools, Postfix and
# GnuPG. Without it everything the tests, the fuzzers, the package check and
# CI need as well, and the browser test's npm package
# (tests/webserver/node_modules, as locked in its package-lock.json). Quick
# when all is present already; needs root (or sudo) otherwise. No service
# starts during the install: the demo and the tests run private instances of
# their own.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake g++ make                            # build
  postfix                                   # local mail server for the mail tests and the demo
  gnupg                                     # PGP (tools/pgp.exe runs gpg)
)
demo_only=0
case "${1:-}" in
--demo) demo_only=1 ;;
"") ;;
*)
  echo "usage: tools/install-deps.sh [--demo]" >&2
  exit 2
  ;;
esac
if [ "$demo_only" -eq 0 ]; then
  packages+=(
    libgtest-dev libgmock-dev               # unit tests
    clang-format                            # tools/check-format.sh
    clang-14 libclang-rt-14-dev             # tools/fuzz.sh (clang++, libFuzzer)
    python3                                 # test tools
    apache2 nginx fcgiwrap                  # web servers of tests/webserver
    chromium nodejs                         # browser test (playwright-core drives Chromium)
    dpkg-dev lintian debootstrap            # packaging/check-deb.sh (the Debian package,
    debian-archive-keyring file             # its lint and its install into a fresh tree)
  )
  # Debian's npm, unless the installed Node.js brings its own.
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  # Postfix asks how it is used; answer "Local only" for this machine's name so
  # the install runs without questions. The demo and the tests use a private
  # instance of their own (tools/postfix-start.sh), never the system's.
  if printf '%s\n' "${missing[@]}" | grep -qx postfix; then
    mailname=$(hostname -f 2>/dev/null || hostname)
    printf '%s\n' \
      "postfix postfix/main_mailer_type select Local only" \
      "postfix postfix/mailname string $mailname" \
      | $sudo debconf-set-selections
  fi
  # Debian starts a service on install (Apache and nginx both on port 80, and
  # the second then fails its install); policy-rc.d answering 101 forbids it.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    trap '$sudo rm -f "$policy"' EXIT
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

[ "$demo_only" -eq 0 ] || exit 0

# playwright-core for the browser test; it drives /usr/bin/chromium and
# downloads no browser. npm keeps its cache in build/npm-cache.
lock=tests/webserver/package-lock.json
installed=tests/webserver/node_modules/playwright-core/package.json
version() { node -p "require('./$1')$2" 2>/dev/null || true; }
if [ "$(version "$lock" ".packages['node_modules/playwright-core'].version")" != \
     "$(version "$installed" ".version")" ]; then
  echo "Installing playwright-core into tests/webserver/node_modules" >&2
  (cd tests/webserver && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 \
    npm ci --cache ../../build/npm-cache --no-audit --no-fund --loglevel=error >/dev/null)
fi
