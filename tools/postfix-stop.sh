#!/usr/bin/env bash
# Stops the private Postfix instance that tools/postfix-start.sh started in
# $VELTRANO_POSTFIX_DIR (the same default: /run/veltrano-postfix-<checkout>).
# Its files (mailboxes, log, queue) stay for a look afterwards. Does nothing
# when it does not run; never touches the system's Postfix.
set -euo pipefail
PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${VELTRANO_POSTFIX_DIR:-/run/veltrano-postfix-$(printf %s "$root" | cksum | cut -d' ' -f1)}

[ -f "$dir/conf/main.cf" ] || exit 0
dir=$(cd "$dir" && pwd)
if postfix -c "$dir/conf" status >/dev/null 2>&1; then
  # `postfix stop` waits up to 5 s for the master; abort covers a stuck one.
  postfix -c "$dir/conf" stop >/dev/null 2>&1 || postfix -c "$dir/conf" abort >/dev/null 2>&1 || true
fi
! postfix -c "$dir/conf" status >/dev/null 2>&1
