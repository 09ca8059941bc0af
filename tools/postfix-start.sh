#!/usr/bin/env bash
# Makes sure the local Postfix runs, listening on 127.0.0.1:25 only and
# delivering only to local mailboxes (/var/mail/<user>); mail for any other
# domain bounces instead of leaving the machine. Needs root. Works without a
# service manager: it starts the daemon with `postfix start`.
# Exits 0 when the server answers on 127.0.0.1:25, non-zero otherwise.
set -euo pipefail
PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH

if ! command -v postfix >/dev/null; then
  echo "postfix-start: Postfix is not installed (tools/install-deps.sh installs it)" >&2
  exit 1
fi

host=$(postconf -h myhostname)
settings=(
  "inet_interfaces=127.0.0.1"
  "inet_protocols=ipv4"
  "mynetworks=127.0.0.0/8"
  "mydestination=localhost, localhost.localdomain, $host"
  "relayhost="
  "default_transport=error:local delivery only"
  "relay_transport=error:local delivery only"
  "home_mailbox="
  "mailbox_command="
  "mail_spool_directory=/var/mail"
)
changed=0
for s in "${settings[@]}"; do
  [ "$(postconf -h "${s%%=*}")" = "${s#*=}" ] || { postconf -e "$s"; changed=1; }
done
[ -f /etc/aliases.db ] || newaliases

if postfix status >/dev/null 2>&1; then
  # inet_interfaces only takes effect on a full restart.
  [ "$changed" -eq 0 ] || { postfix stop >/dev/null 2>&1 || true; sleep 1; postfix start >/dev/null 2>&1; }
else
  postfix start >/dev/null 2>&1 || { postfix status >/dev/null 2>&1 || exit 1; }
fi

for _ in $(seq 50); do
  if timeout 2 bash -c 'exec 3<>/dev/tcp/127.0.0.1/25 && head -c 3 <&3' 2>/dev/null | grep -q 220; then
    exit 0
  fi
  sleep 0.2
done
echo "postfix-start: no answer on 127.0.0.1:25" >&2
exit 1
