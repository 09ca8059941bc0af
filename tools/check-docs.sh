#!/usr/bin/env bash
# Checks the administrator's documentation in docs/ by doing what it says.
#
#     tools/check-docs.sh [--static] [--keep] [TREE]
#
# First, without root and in a few seconds, the text itself (--static stops
# there): every relative link and anchor resolves; every title, message and
# log text of src/response/catalogue.cpp appears in docs/troubleshooting.md,
# whose table of pages has every page of the catalogue's table (title,
# message, status, the status of its JSON answer and log words);
# every shell block parses; every block introduced as one for a real host
# says so; every `sh` block is run by the plan below; the guide's
# template is examples/contact.tpl without its notes; and a package file
# named in the docs or README has the version this source builds.
#
# Then the commands. Every ```sh block of docs/ is run, in the order of the
# plan at the end of this file, as root in the Debian 12 tree that
# packaging/check-deb.sh leaves with the package installed (TREE, default
# build-deb/tree; run that first). The tree itself is never changed: the run
# works on an overlay whose upper half is build-docs/, in private mount, PID,
# network, UTS and IPC namespaces. apt downloads what the blocks install
# first, with the network; then the blocks run offline, on a machine named
# `vm` (a host name without a dot, as fresh machines often have), on a
# private loopback where Apache, nginx and lighttpd each listen on port 80
# in turn, as the guide sets them up, with Postfix on port 25. When the run ends, the
# namespace ends, and every server in it with it; nothing is mounted
# outside it. The guide builds the package from the source, brought into
# the tree, and installs it. Between the blocks the checker submits the
# example form with curl and checks the pages, the mails (decrypting the
# encrypted one), the data file lines and who wrote them, the log lines, and
# that the comment example of template-reference.md gives the subject it
# says it gives.
#
# Blocks marked ```sh host need a running systemd or other machines (they
# start, reload or restart services, or copy between hosts); they are only
# parsed. Their effect is what the checker's own steps do in their place:
# restart Apache, start fcgiwrap (through spawn-fcgi, as systemd's socket
# would, with the options the guide gives it), nginx and lighttpd.
#
# Any block that fails, and any expectation that does not hold, ends the run
# with the block's commands and output. The log of the whole run is
# build-docs/run.log. With --keep the overlay stays after a successful run
# (use it with `chroot build-docs/merged` after mounting, or look into
# build-docs/upper); it always stays after a failure.
#
# Needs root, python3, git, unshare and overlayfs, and the Debian mirror
# that apt uses (for the downloads); about a minute and a half, once the
# packages are in apt's cache.
set -euo pipefail

plan_inside() {
  # The order of the run; see the functions below. Every ```sh block of
  # docs/ must be claimed here by `doc FILE HEADING`, exactly once.
  setup

  doc install.md "Build the package" /root/veltrano
  expect "/root/veltrano/build-deb/veltrano_${version}_amd64.deb"
  expect_file "/root/veltrano/build-deb/veltrano_${version}_amd64.deb"
  doc install.md "Install the package" /root/veltrano
  expect "/usr/lib/cgi-bin/veltrano2.exe"
  expect "www-data www-data"
  doc install.md "A mail server on the machine"
  wait_for_port 25
  note "Postfix listens on port 25"

  section "Apache with mod_cgid"
  doc install.md "Apache with mod_cgid"
  # The two messages the guide explains, on a host named without a dot
  # where nothing started Apache on install.
  expect "AH00558"
  expect "httpd not running, trying to start"
  wait_for_port 80
  mail_mark
  doc install.md "Try the form"
  expect "<H1>Thank you, Ann</H1>"
  expect "That e-mail address is not valid."
  expect '"Ann","root@localhost.localdomain"'
  expect_output_line "contact.csv" "www-data www-data"
  expect_mail "Subject: Contact form: message from Ann"
  expect_mail "Subject: Thank you for your message"
  check_comment_example
  doc install.md "The recipient's key"
  expect "uid"
  mail_mark
  doc install.md "An encrypted form"
  expect "<H1>Thank you, Ann</H1>"
  expect_encrypted_mail "A secret"
  expect_empty_dir /var/lib/veltrano/tmp
  doc install.md "Reading the test mail"
  expect "A secret"
  expect_no_agent /root/test-keyring
  doc security.md "The abuse controls"
  expect "<H1>Thank you, Ann</H1>"
  refute "rfc821"
  doc security.md "Where files live"
  expect_lines 3
  expect_every_line "www-data www-data"
  check_rate_limit
  doc troubleshooting.md "Too many submissions while testing"
  submit_ok contact.tpl
  check_large_body
  check_data_directory_pitfall
  doc troubleshooting.md "Trying a template by hand"
  expect "<TITLE>rfc821 mail transaction process</TITLE>"
  expect "250"
  doc troubleshooting.md "Mail doesn't arrive"
  expect "status=sent"

  section "Apache with mod_cgi"
  doc install.md "Apache with mod_cgi and the prefork MPM"
  expect "Syntax OK"
  restart_apache
  expect_modules cgi_module mpm_prefork_module
  reset_rate_limit
  submit_ok contact.tpl
  submit_encrypted_ok

  section "nginx with fcgiwrap"
  stop_apache
  doc install.md "nginx with fcgiwrap"
  expect "test is successful"
  start_fcgiwrap
  expect_fcgiwrap_children 8
  start_nginx
  reset_rate_limit
  submit_ok contact.tpl
  submit_encrypted_ok
  check_large_body
  doc troubleshooting.md "nginx with fcgiwrap"
  expect "form body over its size limit refused"

  section "lighttpd"
  stop_nginx
  stop_fcgiwrap
  doc install.md "lighttpd"
  start_lighttpd
  reset_rate_limit
  submit_ok contact.tpl
  submit_encrypted_ok
  check_large_body
  doc troubleshooting.md "lighttpd"
  expect "form body over its size limit refused"

  section "Building from source"
  doc install.md "Building from source" /root/veltrano
  expect_newer /usr/lib/cgi-bin/veltrano2.exe
  expect_file /usr/local/libexec/veltrano/pgp.exe
  reset_rate_limit
  submit_ok contact.tpl
  submit_encrypted_ok

  section "Upgrading"
  doc install.md "Upgrading and removing"
  expect "veltrano	${version}"
  expect "veltrano (${version})"

  section "Checking the site"
  doc install.md "Checking the site"
  refute ": error: "
  refute ": warning: "

  section "Running at scale"
  doc scale.md "Collecting the data files"
  expect "contact.csv."
  doc scale.md "Rate limits behind a load balancer"
  expect "Syntax OK"
  expect "test is successful"
  doc scale.md "The mail server on each machine"
  expect "relayhost = [mail.example.org]"

  all_blocks_ran
}

# ---------------------------------------------------------------------------
# Inside the tree (run as `check-docs.sh --inside`, PID 1 of the namespace).

inside_main() {
  cd /root/docs-check
  blocks=/root/docs-check/blocks
  out=/root/docs-check/out
  ran=/root/docs-check/ran
  mkdir -p "$out"
  : >"$ran"
  started=$(date +%s)
  docs_run=0
  version=$(cat "$blocks/version")
  plan_inside
  echo "== all documented commands ran as the docs say ($(($(date +%s) - started)) s)"
}

fail() {
  echo "check-docs: FAIL: $*" >&2
  exit 1
}

note() { echo "     $*"; }

section() { echo "== $*"; }

# The checker's own preparations: the loopback interface, a host name
# without a dot and its addresses, as a fresh machine has them; spawn-fcgi
# to start fcgiwrap as systemd's socket would.
setup() {
  section "Setup"
  apt-get -o Dpkg::Use-Pty=0 install -y -qq spawn-fcgi iproute2 >>"$out/setup.log" 2>&1 ||
    fail "installing spawn-fcgi and iproute2 for the checker (see $out/setup.log)"
  ip link set lo up
  hostname vm
  printf '127.0.0.1\tlocalhost\n127.0.1.1\tvm\n::1\tlocalhost ip6-localhost ip6-loopback\n' >/etc/hosts
  echo vm >/etc/hostname
  echo vm >/etc/mailname
  touch /root/docs-check/started
  note "host name $(hostname --fqdn)"
}

# doc FILE HEADING [DIR]: runs the sh blocks of FILE below HEADING (at any
# level, its subsections included), in order, each as its own bash -e
# script in DIR (default /root). Their output together is what expect
# looks at.
doc() {
  local file=$1 heading=$2 dir=${3:-/root} found=0 id bfile line info path
  docs_run=$((docs_run + 1))
  last=$out/doc-$docs_run.out
  : >"$last"
  while IFS=$'\t' read -r id bfile line info path; do
    [ "$bfile" = "$file" ] && [ "$info" = sh ] || continue
    case "$path" in *"|$heading|"*) ;; *) continue ;; esac
    found=1
    if grep -qx "$id" "$ran"; then fail "$file:$line runs twice (heading \"$heading\")"; fi
    echo "$id" >>"$ran"
    run_block "$id" "$file:$line" "$dir"
  done <"$blocks/index.tsv"
  [ "$found" -eq 1 ] || fail "no sh block in $file under the heading \"$heading\""
}

run_block() {
  local id=$1 where=$2 dir=$3 t0 rc=0
  t0=$(date +%s%N)
  (cd "$dir" && timeout 900 bash -e -o pipefail "$blocks/$id.sh") >"$out/$id.out" 2>&1 || rc=$?
  cat "$out/$id.out" >>"$last"
  {
    echo "### $where (in $dir)"
    sed 's/^/+ /' "$blocks/$id.sh"
    cat "$out/$id.out"
  } >>"$out/blocks.log"
  if [ "$rc" -ne 0 ]; then
    echo "FAIL  $where: exit status $rc" >&2
    sed 's/^/    + /' "$blocks/$id.sh" >&2
    tail -n 60 "$out/$id.out" | sed 's/^/    /' >&2
    fail "a documented command failed ($where)"
  fi
  printf 'ok    %s (%d ms)\n' "$where" $((($(date +%s%N) - t0) / 1000000))
}

# Expectations on the output of the last block or submission.
expect() {
  grep -qF -- "$1" "$last" || {
    tail -n 40 "$last" | sed 's/^/    /' >&2
    fail "expected \"$1\" in the output above"
  }
}
refute() {
  ! grep -qF -- "$1" "$last" || fail "did not expect \"$1\" in $last"
}
expect_lines() {
  local n
  n=$(wc -l <"$last")
  [ "$n" -eq "$1" ] || {
    sed 's/^/    /' "$last" >&2
    fail "expected $1 lines of output, got $n"
  }
}
expect_every_line() {
  if grep -vqF -- "$1" "$last"; then
    sed 's/^/    /' "$last" >&2
    fail "expected \"$1\" on every line"
  fi
}
expect_output_line() {
  grep -F -- "$1" "$last" | grep -qF -- "$2" || {
    sed 's/^/    /' "$last" >&2
    fail "expected a line with \"$1\" and \"$2\""
  }
}
# expect_no_agent DIR: no gpg-agent runs for the keyring DIR (one told to
# stop has 3 s to go).
expect_no_agent() {
  local i f running
  for i in $(seq 30); do
    running=0
    for f in /proc/[0-9]*/cmdline; do
      tr '\0' ' ' <"$f" 2>/dev/null | grep -q "gpg-agent .*--homedir $1 " && running=1
    done
    [ "$running" -eq 1 ] || return 0
    sleep 0.1
  done
  fail "a gpg-agent for $1 still runs"
}
expect_empty_dir() {
  [ -z "$(ls -A "$1")" ] || fail "$1 is not empty: $(ls -A "$1" | tr '\n' ' ')"
}
expect_newer() {
  [ "$1" -nt /root/docs-check/started ] || fail "$1 was not replaced"
  note "$1 is the one just built"
}
expect_file() {
  [ -f "$1" ] || fail "$1 is missing"
}
expect_modules() {
  local m
  apache2ctl -M >"$out/modules" 2>/dev/null
  for m in "$@"; do grep -qw "$m" "$out/modules" || fail "Apache lacks $m"; done
  note "Apache runs with $*"
}

# Root's mailbox: mail_mark remembers its end, expect_mail waits (up to 30 s,
# Postfix delivers in the background) for a text in what arrived since.
mailbox=/var/mail/root
mail_mark() { mark=$(stat -c %s "$mailbox" 2>/dev/null || echo 0); }
new_mail() { tail -c +$((mark + 1)) "$mailbox" 2>/dev/null || true; }
expect_mail() {
  local i
  for i in $(seq 300); do
    new_mail | grep -qF -- "$1" && {
      note "mail arrived: $1"
      return 0
    }
    sleep 0.1
  done
  mailq >&2 || true
  fail "no mail with \"$1\" in $mailbox"
}
# The guide's throwaway key pair stands for the recipient's.
expect_encrypted_mail() {
  expect_mail "BEGIN PGP MESSAGE"
  new_mail | awk '/BEGIN PGP MESSAGE/,/END PGP MESSAGE/' |
    GNUPGHOME=/root/test-keyring gpg --batch --quiet --decrypt >"$out/decrypted" 2>&1 ||
    fail "the encrypted mail does not decrypt: $(cat "$out/decrypted")"
  grep -qF -- "$1" "$out/decrypted" || fail "the decrypted mail lacks \"$1\""
  if new_mail | grep -qF -- "$1"; then fail "\"$1\" went out in plain text"; fi
  note "the encrypted mail decrypts with the recipient's key"
}

# submit TEMPLATE [NAME]: the example form, as a browser posts it; the page
# and the HTTP status are kept in $last, the time taken is checked (a run
# that mod_cgid cuts off after its 5 s wait would pass every other check).
submit() {
  local template=$1 name=${2:-Ann} t0 ms
  last=$out/submit.out
  t0=$(date +%s%N)
  curl -sS --max-time 60 -w '\nHTTP status %{http_code}\n' \
    --data-urlencode "name=$name" --data-urlencode email=root@localhost.localdomain \
    --data-urlencode "message=Message from $name" --data-urlencode to=root@localhost \
    "http://localhost/cgi-bin/veltrano2.exe?forms/$template" >"$last" 2>&1 ||
    fail "curl failed: $(cat "$last")"
  ms=$((($(date +%s%N) - t0) / 1000000))
  [ "$ms" -lt 4000 ] || fail "the submission took $ms ms"
}
data_lines() {
  if [ -f /var/lib/veltrano/contact.csv ]; then wc -l </var/lib/veltrano/contact.csv; else echo 0; fi
}
submit_ok() {
  local template=$1 before
  before=$(data_lines)
  mail_mark
  submit "$template" Bea
  expect "<H1>Thank you, Bea</H1>"
  expect "HTTP status 200"
  [ "$(data_lines)" -eq $((before + 1)) ] || fail "no new data line"
  tail -n 1 /var/lib/veltrano/contact.csv | grep -qF '"Bea"' || fail "the new data line lacks Bea"
  [ "$(stat -c %U /var/lib/veltrano/contact.csv)" = www-data ] || fail "the data file is not www-data's"
  expect_mail "Subject: Contact form: message from Bea"
  note "$template: thank-you page, data line, mail"
}
submit_encrypted_ok() {
  mail_mark
  submit secure.tpl Cy
  expect "<H1>Thank you, Cy</H1>"
  expect_encrypted_mail "Message from Cy"
}

reset_rate_limit() { rm -f /var/lib/veltrano/ratelimit; }

# The comment example of template-reference.md as the SUBJECT of the guide's
# template: the mail's subject is the one the docs say it gives.
check_comment_example() {
  local want
  want=$(cat "$blocks/comment-example.want")
  awk -v example="$blocks/comment-example.tpl" \
    '/^<SUBJECT>/ { while ((getline line <example) > 0) print line; next } { print }' \
    /etc/veltrano/contact.tpl >/etc/veltrano/comment.tpl
  mail_mark
  submit comment.tpl Ann
  expect "<H1>Thank you, Ann</H1>"
  expect_mail "Subject: $want"
  rm /etc/veltrano/comment.tpl
  note "the comment example gives the subject \"$want\""
}

# The example allows 5 submissions an hour from one address: the sixth gets
# the site's failure page with 429, and sends nothing.
check_rate_limit() {
  local i before
  reset_rate_limit
  for i in 1 2 3 4 5; do
    submit contact.tpl Dee
    expect "<H1>Thank you, Dee</H1>"
  done
  before=$(data_lines)
  submit contact.tpl Dee
  expect "<P>Too many submissions.</P>"
  expect "HTTP status 429"
  [ "$(data_lines)" -eq "$before" ] || fail "a refused submission wrote a data line"
  note "the sixth submission within the hour gets 429"
}

# A body over 1 MiB gets the site's failure page, at once, from every server.
check_large_body() {
  local t0 ms
  last=$out/large.out
  head -c 1500000 /dev/zero | tr '\0' a | sed 's/^/message=/' >"$out/large.body"
  t0=$(date +%s%N)
  curl -sS --max-time 60 -w '\nHTTP status %{http_code}\n' --data-binary @"$out/large.body" \
    'http://localhost/cgi-bin/veltrano2.exe?forms/contact.tpl' >"$last" 2>&1 || fail "curl failed"
  ms=$((($(date +%s%N) - t0) / 1000000))
  expect "<P>Form Submit Error.</P>"
  [ "$ms" -lt 4000 ] || fail "the refusal took $ms ms"
  note "a 1.5 MB body gets the failure page, \"Form Submit Error\" ($ms ms)"
}

# A data directory made by root with mode 0755, before any data file: the
# visitor sees the thank-you page and the mail goes out, but no file can be
# made and no line is written, and the log says why. troubleshooting.md reads the log and gives the directory back.
check_data_directory_pitfall() {
  local before
  rm -f /var/lib/veltrano/contact.csv
  chown root:root /var/lib/veltrano
  chmod 0755 /var/lib/veltrano
  reset_rate_limit
  before=$(data_lines)
  mail_mark
  submit contact.tpl Eve
  expect "<H1>Thank you, Eve</H1>"
  expect_mail "Subject: Contact form: message from Eve"
  [ "$(data_lines)" -eq "$before" ] || fail "a line was written to a directory root owns"
  doc troubleshooting.md "Apache"
  expect " forms/contact.tpl "
  expect " veltrano2.exe: data file line not written: /var/lib/veltrano/contact.csv: Permission denied"
  expect "template forms/contact.tpl, process "
  expect '"POST /cgi-bin/veltrano2.exe?forms/contact.tpl HTTP/1.1" 200 '
  doc troubleshooting.md "The data file stays empty"
  expect "root root"
  [ "$(stat -c '%U %a' /var/lib/veltrano)" = "www-data 750" ] || fail "the fix did not give the directory back"
  reset_rate_limit
  submit_ok contact.tpl
}

# Services: what systemd would do on a real host.
wait_for_port() {
  local i
  for i in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  fail "nothing listens on port $1"
}
wait_for_port_free() {
  local i
  for i in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null || return 0
    sleep 0.1
  done
  fail "port $1 is still in use"
}
restart_apache() {
  stop_apache
  apache2ctl start >>"$out/services.log" 2>&1 || fail "apache2ctl start"
  wait_for_port 80
}
stop_apache() {
  apache2ctl stop >>"$out/services.log" 2>&1 || fail "apache2ctl stop"
  wait_for_port_free 80
}
# fcgiwrap with the options of /etc/default/fcgiwrap, which Debian's service
# reads (its default: -f); it is the leader of its process group, which its
# children share.
start_fcgiwrap() {
  local DAEMON_OPTS=-f
  [ ! -f /etc/default/fcgiwrap ] || . /etc/default/fcgiwrap
  # shellcheck disable=SC2086 # split into words, as systemd's ${DAEMON_OPTS}
  spawn-fcgi -s /run/fcgiwrap.socket -M 0660 -u www-data -g www-data -U www-data -G www-data \
    -P /run/fcgiwrap.pid -- /usr/sbin/fcgiwrap $DAEMON_OPTS >>"$out/services.log" 2>&1 ||
    fail "spawn-fcgi"
}
stop_fcgiwrap() {
  kill -- "-$(cat /run/fcgiwrap.pid)"
  rm -f /run/fcgiwrap.socket /run/fcgiwrap.pid
}
# expect_fcgiwrap_children N: fcgiwrap runs N processes, each running one CGI
# program at a time.
expect_fcgiwrap_children() {
  local parent n=0
  parent=$(cat /run/fcgiwrap.pid)
  for _ in $(seq 50); do
    n=$(grep -l "^PPid:[[:space:]]*$parent\$" /proc/[0-9]*/status 2>/dev/null | wc -l)
    [ "$n" -eq "$1" ] && break
    sleep 0.1
  done
  [ "$n" -eq "$1" ] || fail "fcgiwrap runs $n children, want $1"
  note "fcgiwrap runs $1 children"
}
start_nginx() {
  nginx >>"$out/services.log" 2>&1 || fail "nginx"
  wait_for_port 80
}
stop_nginx() {
  nginx -s stop >>"$out/services.log" 2>&1 || fail "nginx -s stop"
  wait_for_port_free 80
}
start_lighttpd() {
  lighttpd -f /etc/lighttpd/lighttpd.conf >>"$out/services.log" 2>&1 || fail "lighttpd"
  wait_for_port 80
}

all_blocks_ran() {
  local id file line info path missing=0
  while IFS=$'\t' read -r id file line info path; do
    [ "$info" = sh ] || continue
    grep -qx "$id" "$ran" || {
      echo "not run: $file:$line" >&2
      missing=1
    }
  done <"$blocks/index.tsv"
  [ "$missing" -eq 0 ] || fail "sh blocks that the plan does not run"
}

if [ "${1:-}" = --inside ]; then
  inside_main
  exit 0
fi

# ---------------------------------------------------------------------------
# On the machine: the static checks, then the run in the tree.

src=$(realpath "$(dirname "$0")/..")
static_only=0
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
  --static) static_only=1 ;;
  --keep) keep=1 ;;
  -*)
    echo "usage: tools/check-docs.sh [--static] [--keep] [TREE]" >&2
    exit 2
    ;;
  *) break ;;
  esac
  shift
done
tree=$(realpath -m "${1:-$src/build-deb/tree}")
out=$src/build-docs
start=$SECONDS

step() { echo "== $* ($((SECONDS - start)) s)"; }
die() {
  echo "check-docs: $*" >&2
  exit 1
}

step "Static checks of docs/"
blocks_dir=$(mktemp -d)
trap 'rm -rf "$blocks_dir"' EXIT
python3 - "$src" "$blocks_dir" "$0" <<'PY'
import html, os, re, subprocess, sys

src, blocks_dir, script = sys.argv[1:4]
docs = os.path.join(src, "docs")
errors = []

def err(msg):
    errors.append(msg)

def slug(heading):
    # GitHub's anchors: lower case, punctuation other than - and _ dropped,
    # spaces to hyphens.
    s = re.sub(r"[`*]", "", heading.strip().lower())
    s = re.sub(r"[^\w\- ]", "", s)
    return s.replace(" ", "-")

pages = {}
for name in sorted(os.listdir(docs)):
    if name.endswith(".md"):
        pages[name] = open(os.path.join(docs, name), encoding="utf-8").read()

# Blocks, with the headings they stand under.
blocks = []
anchors = {}
for name, text in pages.items():
    heads = []
    anchors[name] = set()
    fence = None
    for no, line in enumerate(text.split("\n"), 1):
        m = re.match(r"^(`{3,})(.*)$", line)
        if fence is None and m:
            fence = {"marker": m.group(1), "info": m.group(2).strip(), "line": no,
                     "body": [], "path": [h for _, h in heads]}
            continue
        if fence is not None:
            if line.startswith(fence["marker"]) and line.strip() == fence["marker"]:
                fence["file"] = name
                blocks.append(fence)
                fence = None
            else:
                fence["body"].append(line)
            continue
        m = re.match(r"^(#{1,6}) (.*)$", line)
        if m:
            level = len(m.group(1))
            heads = [(l, h) for l, h in heads if l < level] + [(level, m.group(2).strip())]
            anchors[name].add(slug(m.group(2)))
    if fence is not None:
        err(f"{name}:{fence['line']}: code block never closed")

index = []
for n, b in enumerate(blocks, 1):
    where = f"{b['file']}:{b['line']}"
    lang = b["info"].split()[0] if b["info"] else ""
    if lang in ("sh", "bash", "shell", "console") and b["info"] not in ("sh", "sh host"):
        err(f"{where}: shell block tagged '{b['info']}': use sh (run) or sh host (shown only)")
    if b["info"] not in ("sh", "sh host"):
        continue
    body = "\n".join(b["body"]) + "\n"
    r = subprocess.run(["bash", "-n"], input=body, text=True, capture_output=True)
    if r.returncode != 0:
        err(f"{where}: does not parse: {r.stderr.strip()}")
    if b["info"] == "sh host":
        lines = pages[b["file"]].split("\n")[: b["line"] - 1]
        prev = next((l for l in reversed(lines) if l.strip()), "")
        if not prev.startswith("*On "):
            err(f"{where}: a block for a real host must follow a line '*On a real host:*' "
                f"(or another '*On ...*' line)")
    bid = f"{n:03d}"
    with open(os.path.join(blocks_dir, bid + ".sh"), "w") as f:
        f.write(body)
    index.append((bid, b["file"], str(b["line"]), b["info"], "|" + "|".join(b["path"]) + "|"))
with open(os.path.join(blocks_dir, "index.tsv"), "w") as f:
    for row in index:
        f.write("\t".join(row) + "\n")

# The plan claims every sh block exactly once.
plan = re.findall(r'^\s*doc (\S+\.md) "([^"]+)"', open(script).read(), re.M)
for bid, file, line, info, path in index:
    if info != "sh":
        continue
    claims = [h for f, h in plan if f == file and f"|{h}|" in path]
    if len(claims) != 1:
        err(f"{file}:{line}: claimed by {len(claims)} steps of the plan in tools/check-docs.sh "
            f"(headings {path}); it needs exactly one")

# The guide's template is the example's without its notes: the same sections
# with the same text, in the same order, the page files by their full path.
def sections(text):
    return re.findall(r"<(DFILE APPEND|DFILE TRUNCATE|[A-Z]+)>(.*?)</(?:DFILE|\1)>", text, re.S)

guide = re.search(r"^cat > /etc/veltrano/contact\.tpl <<'EOF'\n(.*?)^EOF$", pages["install.md"],
                  re.S | re.M)
if not guide:
    err("install.md: no block writes /etc/veltrano/contact.tpl")
else:
    ours = [(tag, body.replace("/etc/veltrano/", "") if tag.endswith("MSGFILE") else body)
            for tag, body in sections(guide.group(1))]
    example = sections(open(os.path.join(src, "examples", "contact.tpl"), encoding="utf-8").read())
    for n in range(max(len(ours), len(example))):
        a = ours[n] if n < len(ours) else None
        b = example[n] if n < len(example) else None
        if a != b:
            err(f"install.md: its template is not examples/contact.tpl without the notes: "
                f"section {n + 1} is {a!r} in the guide, {b!r} in the example")
            break

# The package file the docs name is the one this source builds; the run
# expects that version too.
version = re.search(r"^project\(Veltrano VERSION (\S+) ", open(os.path.join(src, "CMakeLists.txt"),
                    encoding="utf-8").read(), re.M).group(1)
readme = open(os.path.join(src, "README.md"), encoding="utf-8").read()
for name, text in list(pages.items()) + [("../README.md", readme)]:
    for named in re.findall(r"veltrano_([0-9][^_\s]*)_amd64\.deb", text):
        if named != version:
            err(f"{name}: names veltrano_{named}_amd64.deb, but this source builds version {version}")
with open(os.path.join(blocks_dir, "version"), "w") as f:
    f.write(version)

# The comment example of template-reference.md, and the subject it says the
# example gives, for the run (check_comment_example).
example = re.search(r"```text\n(<SUBJECT>.*?)```\n\ngives the subject `([^`]*)`",
                    pages.get("template-reference.md", ""), re.S)
if not example:
    err("template-reference.md: no comment example (a SUBJECT block, then 'gives the subject `...`')")
else:
    with open(os.path.join(blocks_dir, "comment-example.tpl"), "w") as f:
        f.write(example.group(1))
    with open(os.path.join(blocks_dir, "comment-example.want"), "w") as f:
        f.write(example.group(2))

# Links between the pages, and from the top README into them.
for name, text, base in [(n, t, docs) for n, t in pages.items()] + [("../README.md", readme, src)]:
    prose = re.sub(r"```.*?```", "", text, flags=re.S)
    for target in re.findall(r"\]\(([^)\s]+)\)", prose):
        if re.match(r"^[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        if path and not os.path.exists(os.path.join(base, path)):
            err(f"{name}: link to {target}: no such file")
            continue
        page = os.path.relpath(os.path.join(base, path), docs) if path else name
        if anchor and page in anchors and anchor not in anchors[page]:
            err(f"{name}: link to {target}: no such heading in {page}")

# Every page and log text of the catalogue is in troubleshooting.md, and
# every row of the catalogue's page table is a row of its table of pages.
def norm(t):
    t = html.unescape(t.replace("\\n", "\n").replace('\\"', '"'))
    t = t.replace("*", "").replace("`", "")
    return re.sub(r"\s+", " ", t).strip()

cat = open(os.path.join(src, "src/response/catalogue.cpp"), encoding="utf-8").read()
cat = re.sub(r"^#include.*$", "", cat, flags=re.M)
# Comments go; a "//" inside a string (a web address) stays.
cat = re.sub(r'("(?:[^"\\]|\\.)*")|//.*$', lambda m: m.group(1) or "", cat, flags=re.M)
trouble = norm(pages.get("troubleshooting.md", ""))
wanted = set()
# Adjacent literals are one string, as the compiler joins them.
for run in re.findall(r'(?:"(?:[^"\\]|\\.)*"\s*)+', cat):
    text = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', run))
    text = text.replace("\\n", "\n").lstrip()
    # Up to the first line break or HTML tag; entities stand for characters.
    text = re.split(r"\n|<(?:br|ul|li|p|pre|b)\b|<p>", text)[0]
    text = norm(text)
    if len(text) >= 12:
        wanted.add(text[:70])
for text in sorted(wanted):
    if text not in trouble:
        err(f"troubleshooting.md lacks the catalogue's text: {text}")

# The page table: `constexpr PageRow kPages[] = { {kind, title, lead, shown,
# tail, words, status[, json status[, plain message]]}, ... };`, its texts
# literals or named string constants.
def literal(tokens):
    return "".join(t[1:-1] for t in tokens).replace("\\n", "\n").replace('\\"', '"')

constants = {name: literal(re.findall(r'"(?:[^"\\]|\\.)*"', body))
             for name, body in re.findall(
                 r"constexpr std::string_view (k\w+) =\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+);", cat)}
table = re.search(r"constexpr PageRow kPages\[\] = \{(.*?)\n\};", cat, re.S)
rows = []
if not table:
    err("src/response/catalogue.cpp: no table kPages")
else:
    for row in re.findall(r"\{((?:\"(?:[^\"\\]|\\.)*\"|[^{}\"])*)\}", table.group(1)):
        fields = [f.strip() for f in
                  re.findall(r'((?:"(?:[^"\\]|\\.)*"|[^,"])+)', row)]
        values = []
        for f in fields:
            strings = re.findall(r'"(?:[^"\\]|\\.)*"', f)
            values.append(literal(strings) if strings else constants.get(f, f))
        if len(values) not in (7, 8, 9):
            err(f"catalogue.cpp: a row of kPages without 7 to 9 fields: {row.strip()[:80]}")
            continue
        rows.append(dict(zip(["kind", "title", "lead", "shown", "tail", "words", "status",
                              "json"], values)))

doc_rows = []
section = re.search(r"^## Pages a visitor can get\n(.*?)^## ", pages.get("troubleshooting.md", ""),
                    re.S | re.M)
for line in (section.group(1) if section else "").split("\n"):
    cells = [c.strip() for c in line.strip().strip("|").split("|")]
    if line.startswith("|") and len(cells) == 7 and cells[0] not in ("Title", "---"):
        doc_rows.append(dict(zip(["title", "message", "status", "json", "cause", "fix", "words"],
                                 cells)))

SLOT = "\x00"

def visible(text):
    # What the docs quote of a message: up to its first line break or tag.
    text = re.split(r"\n|<(?:br|ul|li|p|pre|b)\b", text)[0]
    return re.sub(r"\s+", " ", html.unescape(text)).strip()

for row in rows:
    found = [d for d in doc_rows if norm(d["words"]) == norm(row["words"])]
    if len(found) != 1:
        err(f"troubleshooting.md: {len(found)} rows of the page table for the log words "
            f"{row['words']!r} ({row['kind']}); it needs exactly one")
        continue
    d = found[0]
    title = None if row["title"] == "std::nullopt" else row["title"]
    got_title = None if d["title"] in ("(none)", "(no page)") else norm(d["title"])
    if got_title != (norm(title) if title else None):
        err(f"troubleshooting.md: {row['kind']}: title {d['title']!r}, the catalogue's "
            f"{title or '(none)'!r}")
    if d["status"] != (row["status"] or "(none)"):
        err(f"troubleshooting.md: {row['kind']}: status {d['status']!r}, the catalogue's "
            f"{row['status'] or '(none)'!r}")
    # A JSON answer has the page's status unless the row gives its own.
    json_status = row.get("json") or row["status"] or "(none)"
    if d["json"] != json_status:
        err(f"troubleshooting.md: {row['kind']}: JSON status {d['json']!r}, the catalogue's "
            f"{json_status!r}")
    if row["shown"] == "kTranscript":
        continue  # the docs describe the conversation
    # The catalogue's message with a slot for what it shows, against the docs'
    # with *placeholders* as slots; "..." ends a message the docs shorten.
    want = visible(row["lead"] + (SLOT if row["shown"] != "kNothing" else "") + row["tail"])
    got = d["message"]
    shortened = got.endswith("...")
    got = re.sub(r"\*[^*]+\*", SLOT, got.removesuffix("...")).replace("`", "")
    got = re.sub(r"\s+", " ", html.unescape(got)).strip()
    if not (want.startswith(got) if shortened else want == got):
        err(f"troubleshooting.md: {row['kind']}: message {d['message']!r}, the catalogue's "
            f"{want.replace(SLOT, '*...*')!r}")

if errors:
    for e in errors:
        print("FAIL  " + e, file=sys.stderr)
    sys.exit(1)
runs = sum(1 for r in index if r[3] == "sh")
print(f"ok    {len(pages)} pages, {runs} blocks to run, {len(index) - runs} for a real host, "
      f"{len(wanted)} catalogue texts, {len(rows)} pages")
PY
[ "$static_only" -eq 1 ] && exit 0

[ "$(id -u)" -eq 0 ] || die "the run in the tree needs root (or use --static)"
[ -x "$tree/usr/lib/cgi-bin/veltrano2.exe" ] ||
  die "no installed tree at $tree; run packaging/check-deb.sh first"
if ! diff -r "$src/docs" "$tree/usr/share/doc/veltrano/docs" >/dev/null 2>&1; then
  echo "check-docs: note: the package's docs differ from docs/ (rebuild it with packaging/check-deb.sh);" \
    "the commands run are those of docs/" >&2
fi
if [ -d "$out" ] && findmnt -rn -o TARGET | grep -q "^$out/"; then
  die "something is mounted below $out; unmount it first"
fi
rm -rf --one-file-system "$out"
mkdir -p "$out/upper" "$out/work" "$out/merged" "$out/stage"

# What the run brings into the tree: the blocks, this script, and the
# source, from which the guide builds the package it installs.
mkdir -p "$out/stage/docs-check"
cp -r "$blocks_dir" "$out/stage/docs-check/blocks"
cp "$0" "$out/stage/docs-check/check-docs.sh"
mkdir "$out/stage/veltrano"
if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$src" ls-files -z --cached --others --exclude-standard |
    (cd "$src" && xargs -0 tar -c --ignore-failed-read -f - 2>/dev/null) | tar -x -C "$out/stage/veltrano"
else
  tar -c -C "$src" --exclude='./build*' --exclude=./.git . | tar -x -C "$out/stage/veltrano"
fi

# Everything the blocks install with apt-get, downloaded before the run.
# (The checker's own tools come along: spawn-fcgi for fcgiwrap's socket, ip
# for the loopback interface.)
mapfile -t packages < <({
  cat "$blocks_dir"/*.sh | grep -o 'apt-get install[^;&|]*' | tr ' ' '\n' |
    grep -v '^-\|^\./\|^apt-get$\|^install$\|^$'
  printf '%s\n' spawn-fcgi iproute2
} | sort -u)

if [ -z "${http_proxy:-}" ]; then
  eval "$(apt-config shell http_proxy Acquire::http::Proxy)"
  [ -n "${http_proxy:-}" ] && export http_proxy
fi

# in_overlay [--offline] COMMAND...: COMMAND as PID 1 of fresh namespaces,
# chrooted into the overlay of the tree, with a minimal CGI-like PATH.
in_overlay() {
  local net=()
  if [ "$1" = --offline ]; then
    net=(--net --uts --ipc)
    shift
  fi
  unshare --mount --pid --fork --propagation private "${net[@]}" bash -c '
    set -e
    tree=$1 out=$2
    shift 2
    mount -t overlay overlay -o "lowerdir=$tree,upperdir=$out/upper,workdir=$out/work" "$out/merged"
    mount -t proc proc "$out/merged/proc"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$out/merged/dev/pts"
    exec chroot "$out/merged" /usr/bin/env -i HOME=/root LC_ALL=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      DEBIAN_FRONTEND=noninteractive ${http_proxy:+http_proxy=$http_proxy} "$@"
  ' bash "$tree" "$out" "$@"
}

step "Downloading what the guide installs: ${packages[*]}"
# Recommended packages are left out, as check-deb.sh does, to keep the run
# short; the guide's commands are the same.
mkdir -p "$out/upper/etc/apt/apt.conf.d"
echo 'APT::Install-Recommends "false";' >"$out/upper/etc/apt/apt.conf.d/99check-docs"
download() { in_overlay apt-get -o Dpkg::Use-Pty=0 install -y -qq --download-only "${packages[@]}"; }
if ! download >"$out/download.log" 2>&1; then
  in_overlay apt-get -o Dpkg::Use-Pty=0 update -qq >>"$out/download.log" 2>&1 || true
  download >>"$out/download.log" 2>&1 || {
    tail -n 30 "$out/download.log" >&2
    die "apt could not download the packages (log: $out/download.log)"
  }
fi

step "Running the documented commands in the tree (offline, private loopback)"
mkdir -p "$out/upper/root"
chmod 0700 "$out/upper/root"
cp -a "$out/stage/." "$out/upper/root/"
rc=0
in_overlay --offline bash /root/docs-check/check-docs.sh --inside 2>&1 | tee "$out/run.log" || rc=$?
cp -r "$out/upper/root/docs-check/out" "$out/blocks-output" 2>/dev/null || true
[ "$rc" -eq 0 ] || die "failed after $((SECONDS - start)) s; output of every block: $out/blocks-output/blocks.log"
if [ "$keep" -eq 0 ]; then
  rm -rf --one-file-system "$out/upper" "$out/work" "$out/merged" "$out/stage"
fi
step "Documentation checked"
