#!/usr/bin/env bash
# Runs a command and fails when it changed the machine outside the project:
# the system's mail and web server configuration, the system mailboxes and
# Veltrano's system data directory. The tests and the demo run private
# servers and write only into their own directories; this keeps them at it.
#
#     tools/check-untouched.sh COMMAND [ARG...]
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }

watched=(/etc/postfix /etc/apache2 /etc/nginx /etc/aliases /var/mail /var/spool/mail
  /var/lib/veltrano /usr/lib/cgi-bin)

# Every file below the watched places, with its content's hash, owner and mode.
snapshot() {
  for place in "${watched[@]}"; do
    [ -e "$place" ] || { echo "absent $place"; continue; }
    find "$place" -xdev \( -type f -o -type l -o -type d \) -printf '%p %u %m\n' | sort
    find "$place" -xdev -type f -exec sha256sum {} + 2>/dev/null | sort -k2
  done
}

before=$(mktemp)
after=$(mktemp)
trap 'rm -f "$before" "$after"' EXIT
snapshot >"$before"
status=0
"$@" || status=$?
snapshot >"$after"
if ! diff -u "$before" "$after" >&2; then
  echo "check-untouched: '$*' changed the machine outside the project (diff above)" >&2
  exit 1
fi
exit "$status"
