#!/usr/bin/env bash
# Starts a private Postfix instance for the demo and the tests; the system's
# Postfix (/etc/postfix, /var/mail, its queue) is never read for settings,
# changed or restarted, and need not run.
#
# The instance lives in one directory of its own, $VELTRANO_POSTFIX_DIR: conf/
# (main.cf, master.cf), queue/, data/, the mailboxes in mail/ (one mbox file
# per local user: mail/root, ...) and its log, maillog. Postfix's daemons run
# as the user postfix, so that directory and each of its parents must be
# searchable by others: the default, /run/veltrano-postfix-<checkout>, is
# one per checkout (a checkout in a mode-0700 home cannot hold it), and it
# stays after tools/postfix-stop.sh for a look at the mailboxes and the log.
# It listens on $VELTRANO_SMTP_LISTEN (default 127.0.0.1:2525,
# loopback only) and delivers only to local users of this machine at
# localhost / localhost.localdomain; it refuses to relay, and anything else
# bounces. Needs root (Postfix's master runs as root).
#
# Idempotent: an instance that already runs with the same settings is left
# running. One that was stopped abruptly (kill -9 included) starts cleanly:
# what such a stop leaves behind (a pid file, a half-written queue file, a
# log the postfix user cannot append to) is dealt with first, and mailboxes
# are locked with fcntl only, so no lock file can outlive a delivery. On
# success it prints, for `info=$(tools/postfix-start.sh) && eval "$info"`:
#   VELTRANO_SMTP=127.0.0.1:2525             (a template's SMTPSERVER)
#   VELTRANO_MAIL_DIR=/run/.../mail          (root's mailbox is mail/root)
#   VELTRANO_POSTFIX_STARTED=1               (0: it was running already)
# On failure it prints the reason on standard error and exits 1.
set -euo pipefail
PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${VELTRANO_POSTFIX_DIR:-/run/veltrano-postfix-$(printf %s "$root" | cksum | cut -d' ' -f1)}
listen=${VELTRANO_SMTP_LISTEN:-127.0.0.1:2525}

die() {
  echo "postfix-start: $*" >&2
  exit 1
}
command -v postfix >/dev/null || die "Postfix is not installed (tools/install-deps.sh installs it)"
[ "$(id -u)" -eq 0 ] || die "needs root"
[[ $listen =~ ^127\.[0-9]+\.[0-9]+\.[0-9]+:[0-9]+$ ]] ||
  die "VELTRANO_SMTP_LISTEN must be a loopback ADDRESS:PORT, not '$listen'"
ip=${listen%:*}
port=${listen##*:}

mkdir -p "$dir" || die "cannot make $dir"
dir=$(cd "$dir" && pwd)
# Postfix's daemons run as the user postfix and must reach the queue.
runuser -u postfix -- test -x "$dir" ||
  die "the user postfix cannot enter $dir; use a directory whose parents others may search"
mkdir -p "$dir/conf" "$dir/queue" "$dir/data" "$dir/mail"
chmod 755 "$dir" "$dir/conf" "$dir/queue" "$dir/mail"
chown postfix "$dir/data"

exec 9>"$dir/.lock"
flock 9

# Mail for other domains: relaying is refused at RCPT, and whatever is queued
# for elsewhere (a bounce, say) fails at once instead of leaving the machine.
cat >"$dir/conf/main.cf.new" <<EOF
compatibility_level = 3.6
queue_directory = $dir/queue
data_directory = $dir/data
mail_owner = postfix
setgid_group = postdrop
maillog_file = $dir/maillog
maillog_file_prefixes = $dir
syslog_name = postfix-veltrano
inet_interfaces = $ip
inet_protocols = ipv4
myhostname = localhost.localdomain
myorigin = localhost
mydestination = localhost, localhost.localdomain
mynetworks = 127.0.0.0/8
relayhost =
smtpd_relay_restrictions = reject_unauth_destination
default_transport = error:this mail server delivers locally only
relay_transport = error:this mail server delivers locally only
alias_maps =
alias_database =
local_recipient_maps = proxy:unix:passwd.byname
recipient_delimiter = +
mail_spool_directory = $dir/mail
home_mailbox =
mailbox_command =
mailbox_delivery_lock = fcntl
forward_path =
allow_mail_to_commands =
allow_mail_to_files =
biff = no
smtpd_banner = \$myhostname ESMTP
EOF
# No chroot: the instance's queue is no prepared chroot tree.
cat >"$dir/conf/master.cf.new" <<EOF
$listen inet n - n - - smtpd
pickup     unix n - n 60 1 pickup
cleanup    unix n - n - 0 cleanup
qmgr       unix n - n 300 1 qmgr
rewrite    unix - - n - - trivial-rewrite
bounce     unix - - n - 0 bounce
defer      unix - - n - 0 bounce
trace      unix - - n - 0 bounce
verify     unix - - n - 1 verify
flush      unix n - n 1000? 0 flush
proxymap   unix - - n - - proxymap
proxywrite unix - - n - 1 proxymap
showq      unix n - n - - showq
error      unix - - n - - error
retry      unix - - n - - error
discard    unix - - n - - discard
local      unix - n n - - local
anvil      unix - - n - 1 anvil
scache     unix - - n - 1 scache
postlog    unix-dgram n - n - 1 postlogd
EOF
changed=0
for f in main.cf master.cf; do
  if cmp -s "$dir/conf/$f.new" "$dir/conf/$f"; then
    rm "$dir/conf/$f.new"
  else
    mv "$dir/conf/$f.new" "$dir/conf/$f"
    changed=1
  fi
done

answers() {
  timeout 2 bash -c "exec 3<>/dev/tcp/$ip/$port && head -c 3 <&3" 2>/dev/null | grep -q 220
}
pf() { postfix -c "$dir/conf" "$@"; }

# What an abrupt stop leaves behind, once no master runs: its pid files; the
# files a killed cleanup was writing in incoming/ (a complete queue file has
# its owner's execute bit; the client of an incomplete one was never told
# the mail was taken); a mailbox dotlock (from before fcntl-only locking),
# which would defer every delivery to that user for minutes. And the log
# must be the postfix user's: postsuper, run as that user at start to repair
# the queue, appends to it, and refuses to start Postfix when it can't.
tidy() {
  rm -f "$dir"/queue/pid/*.pid "$dir"/mail/*.lock
  find "$dir/queue/incoming" -type f ! -perm -u=x -delete 2>/dev/null || true
  touch "$dir/maillog"
  chown postfix "$dir/maillog"
}

started=0
if pf status >/dev/null 2>&1; then
  if [ "$changed" -eq 1 ]; then
    # The listening address changes only with a full restart.
    pf stop >/dev/null 2>&1 || true
  fi
fi
if ! pf status >/dev/null 2>&1; then
  # Something else on our port would answer for us.
  ! answers || die "$listen is already in use by another server"
  tidy
  out=$(pf start 2>&1) || { echo "$out" >&2; die "postfix -c $dir/conf start failed"; }
  started=1
fi

for _ in $(seq 100); do
  if answers; then
    echo "VELTRANO_SMTP=$listen"
    echo "VELTRANO_MAIL_DIR=$dir/mail"
    echo "VELTRANO_POSTFIX_STARTED=$started"
    exit 0
  fi
  sleep 0.1
done
tail -n 20 "$dir/maillog" >&2 2>/dev/null || true
die "no answer on $listen"
