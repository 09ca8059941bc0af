#!/usr/bin/env bash
# Veltrano's main job, end to end, told as a short story of steps: installs
# what the demo needs (build tools, Postfix, GnuPG), builds the program,
# starts a private Postfix instance (tools/postfix-start.sh), puts the
# program and the example site in a site directory and submits the contact
# form to it as a web server would: an accepted submission (the fields it
# sends, its page, the two mails delivered to root and the data-file line),
# one that fails its checks (its page, and that it sent and wrote nothing),
# one whose message is encrypted with GnuPG for a throwaway key (both
# mails, and the message decrypted), and a job application with a CV
# attached (the file as it arrived, byte for byte). The last line names
# what to read next.
#
# Each step is one line with the time it took; what apt and the build print
# goes to a log that is shown only when its step fails. The private Postfix
# and the site live in a directory made for the run under /var/tmp, which
# Postfix's user can reach whatever the checkout's parents allow; it is
# removed at the end (kept after a failure, for a look). The program is
# built in the checkout's build/. Nothing else is written; the system's
# Postfix is not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH

if [ "$(id -u)" -ne 0 ]; then
  echo "tools/demo.sh: needs root, to install packages and start a private Postfix (use sudo)" >&2
  exit 1
fi

started=$(date +%s%N)
run=$(mktemp -d /var/tmp/veltrano-demo.XXXXXX)
chmod 0755 "$run"
site=$run/site
log=$run/step.log
mailbox=
postfix_started=0
keep_run=0
cleanup() {
  [ ! -d "$site/gnupg" ] || GNUPGHOME="$site/gnupg" gpgconf --kill gpg-agent 2>/dev/null || true
  [ "$postfix_started" = 0 ] || VELTRANO_POSTFIX_DIR=$run/postfix tools/postfix-stop.sh || true
  if [ "$keep_run" -eq 0 ]; then rm -rf "$run"; fi
}
trap cleanup EXIT

# begin TEXT: the start of a step's line; done TEXT / failed TEXT end it with
# the step's time. A failed step shows the end of its log and ends the demo.
begin() {
  step_start=$(date +%s%N)
  printf '%s ... ' "$1"
  : >"$log"
}
elapsed() { # since $1 (date +%s%N), as "12.34 s"
  local ms=$((($(date +%s%N) - $1) / 1000000))
  printf '%d.%02d s' $((ms / 1000)) $((ms % 1000 / 10))
}
done_() { echo "$1 ($(elapsed "$step_start"))"; }
failed() {
  echo "FAILED ($(elapsed "$step_start"))"
  if [ -s "$log" ]; then
    echo "--- its output (last 40 lines):"
    tail -n 40 "$log"
    echo "---"
  fi
  keep_run=1
  echo "tools/demo.sh: $1; the run's files stay in $run" >&2
  exit 1
}
indent() { sed 's/^/    /'; }

begin "Installing what the demo needs (build tools, Postfix, GnuPG)"
tools/install-deps.sh --demo >"$log" 2>&1 || failed "the packages could not be installed"
if grep -q '^Installing: ' "$log"; then done_ "$(grep '^Installing: ' "$log" | cut -c13-)"; else done_ "all there"; fi

begin "Building veltrano2.exe"
# A first build needs no test framework; an existing build keeps its settings.
configure=(-S . -B build)
[ -f build/CMakeCache.txt ] || configure+=(-DBUILD_TESTING=OFF)
{ cmake "${configure[@]}" && cmake --build build -j"$(nproc)" --target veltrano2.exe; } >"$log" 2>&1 ||
  failed "the build failed"
done_ "build/veltrano2.exe"

begin "Starting a private Postfix"
# The first port from 2525 that nobody answers on.
port=2525
while [ "$port" -lt 2600 ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
info=$(VELTRANO_POSTFIX_DIR=$run/postfix VELTRANO_SMTP_LISTEN=127.0.0.1:$port tools/postfix-start.sh 2>"$log") ||
  failed "Postfix did not start"
eval "$info"
postfix_started=$VELTRANO_POSTFIX_STARTED
mailbox=$VELTRANO_MAIL_DIR/root
done_ "listening on $VELTRANO_SMTP, delivering into $VELTRANO_MAIL_DIR"

# The site: the program with the example templates and pages in cgi-bin/, as
# in a web server's CGI directory, and the data file beside it in data/, out
# of the visitors' reach (they can name any file below cgi-bin/ as template).
# The templates' mail server becomes the private instance, and the data file
# and the rate limit's state file move from /var/lib/veltrano into the site.
begin "Setting up the example site"
mkdir "$site" "$site/cgi-bin" "$site/data" "$site/bin"
cp build/veltrano2.exe examples/* "$site/cgi-bin/"
cp tools/pgp.exe "$site/bin/"
sed -i -e "s|<SMTPSERVER>.*</SMTPSERVER>|<SMTPSERVER>$VELTRANO_SMTP</SMTPSERVER>|" \
  -e "s|<DFILE APPEND>.*</DFILE>|<DFILE APPEND>$site/data/contact.csv</DFILE>|" \
  -e "s|<RATELIMIT>/var/lib/veltrano/|<RATELIMIT>$site/data/|" \
  "$site/cgi-bin/contact.tpl" "$site/cgi-bin/secure.tpl" "$site/cgi-bin/apply.tpl"
done_ "$site: the program and examples/ in cgi-bin/, the data file in data/"

# fields NAME VALUE ...: shows the fields a submission sends, one a line (a
# value's CR LF line ends as further lines), and sets $body to their URL
# encoding, as a browser sends a form.
fields() {
  local name value c i
  body=
  echo "  The fields it sends:"
  while [ $# -gt 0 ]; do
    name=$1 value=$2
    shift 2
    printf '    %-8s %s\n' "$name" "${value//$'\r\n'/$'\n'             }"
    [ -z "$body" ] || body+='&'
    body+="$name="
    for ((i = 0; i < ${#value}; i++)); do
      c=${value:i:1}
      case $c in
      [a-zA-Z0-9._~-]) body+=$c ;;
      ' ') body+=+ ;;
      *) body+=$(printf '%%%02X' "'$c") ;;
      esac
    done
  done
}

# submit TEMPLATE [VAR=VALUE...]: one CGI run with $body, started from / with
# a clean environment, as a web server starts it (VAR=VALUE adds to it or
# replaces a variable, CONTENT_TYPE say); the page goes to $run/page.
submit() {
  local template=$1
  shift
  (cd / && printf '%s' "$body" | env -i PATH="$site/bin:/usr/bin:/bin" \
    QUERY_STRING="$template" REQUEST_METHOD=POST CONTENT_LENGTH=${#body} \
    CONTENT_TYPE=application/x-www-form-urlencoded SERVER_SOFTWARE='Apache/2.4' \
    REMOTE_ADDR=192.0.2.1 "$@" "$site/cgi-bin/veltrano2.exe") >"$run/page" 2>"$log"
}
page_title() { sed -n 's/.*<TITLE>\(.*\)<\/TITLE>.*/\1/p' "$run/page" | head -n 1; }
show_page() {
  echo "  The page:"
  tr -d '\r' <"$run/page" | indent
}

# Mail arrives in the background; new_mails N waits (up to 20 s) until N mails
# came after the mark and prints them.
mailbox_size() { stat -c %s "$mailbox" 2>/dev/null || echo 0; }
mail_mark() { mark=$(mailbox_size); }
new_mails() { tail -c +$((mark + 1)) "$mailbox" 2>/dev/null || true; }
count_new_mails() { new_mails | grep -c '^From ' || true; }
wait_for_mails() {
  local i
  for i in $(seq 100); do
    [ "$(count_new_mails)" -ge "$1" ] && return 0
    sleep 0.2
  done
  return 1
}
# The headers a reader looks at, and the body, of each new mail.
show_mails() {
  echo "  The $(count_new_mails) mails in root's mailbox:"
  new_mails | awk '
    /^From / { if (n++) print ""; head = 1; blank = 0; next }
    head && /^$/ { head = 0; print ""; next }
    head { show = /^(From|To|Reply-To|Subject|Auto-Submitted):/ }
    head && show { print; next }
    head { next }
    /^$/ { blank++; next }
    { for (; blank > 0; blank--) print ""; print }' | indent
}
data_lines() { if [ -f "$site/data/contact.csv" ]; then wc -l <"$site/data/contact.csv"; else echo 0; fi; }

mails_total=0
# 1. An accepted submission. The hidden field "to" receives the message; the
# visitor (here root too) gets the confirmation. The message holds a line
# of a lone dot, which SMTP would read as the end of the mail.
begin "Submission 1, contact.tpl: a message from Ann"
mail_mark
fields name 'Ann Example' email root@localhost.localdomain message $'Hello there.\r\n.\r\nBye' \
  to root@localhost >"$run/fields"
submit contact.tpl || failed "veltrano2.exe failed"
[ "$(page_title)" = "Thank you" ] || failed "the page is not the thank-you page: $(page_title)"
wait_for_mails 2 || failed "$(count_new_mails) of 2 mails arrived in $mailbox within 20 s"
[ "$(data_lines)" -eq 1 ] || failed "no line in $site/data/contact.csv"
mails_total=$((mails_total + 2))
done_ "thank-you page, 2 mails delivered, 1 data line"
cat "$run/fields"
echo "  (The visitor's address, root@localhost.localdomain, is root's, with the dot the check wants.)"
show_page
show_mails
echo "  (The lone \".\" went out as \"..\", as a lone dot ends a mail; the mail server took one off.)"
echo "  The data file's line ($site/data/contact.csv):"
tr -d '\r' <"$site/data/contact.csv" | indent

# 2. A submission that fails its checks: no name, a bad e-mail address. It
# ends before any mail or record, so neither a mail nor a line may come.
begin "Submission 2, contact.tpl: no name and a bad e-mail address"
mail_mark
fields name '' email not-an-address message Hi to root@localhost >"$run/fields"
submit contact.tpl || failed "veltrano2.exe failed"
[ "$(page_title)" = "Please check the form" ] || failed "the page is not the error page: $(page_title)"
sleep 1
[ "$(count_new_mails)" -eq 0 ] || failed "a refused submission sent mail"
[ "$(data_lines)" -eq 1 ] || failed "a refused submission wrote a data line"
done_ "error page; 1 s later no mail has arrived and the data file still has 1 line"
cat "$run/fields"
show_page

# 3. The same message, encrypted for root@localhost with a throwaway key;
# the confirmation to the visitor goes out in plain text.
begin "Submission 3, secure.tpl: Ann's message encrypted with GnuPG"
export GNUPGHOME=$site/gnupg
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key 'Veltrano demo <root@localhost>' \
  default default never >"$log" 2>&1 || failed "gpg could not make a key"
mail_mark
fields name 'Ann Example' email root@localhost.localdomain message Secret to root@localhost \
  >"$run/fields"
submit secure.tpl GNUPGHOME="$GNUPGHOME" || failed "veltrano2.exe failed"
[ "$(page_title)" = "Thank you" ] || failed "the page is not the thank-you page: $(page_title)"
wait_for_mails 2 || failed "$(count_new_mails) of 2 mails arrived in $mailbox within 20 s"
new_mails | sed -n '/^-----BEGIN PGP MESSAGE/,/^-----END PGP MESSAGE/p' >"$run/armour"
[ -s "$run/armour" ] || failed "no encrypted message arrived"
gpg --batch --quiet --decrypt "$run/armour" >"$run/decrypted" 2>"$log" || failed "the message does not decrypt"
mails_total=$((mails_total + 2))
done_ "thank-you page, 2 mails delivered, the message encrypted"
cat "$run/fields"
show_mails
echo "  The first one's message, decrypted with root@localhost's key:"
tr -d '\r' <"$run/decrypted" | indent

# 4. A job application with a CV, sent as a browser sends a form with a file
# input (multipart/form-data); the CV goes with the application as an
# attachment, never with the confirmation.
begin "Submission 4, apply.tpl: an application with a CV attached"
mail_mark
printf '%%PDF-1.4\n%% A CV, short for the demo\n1 0 obj << /Type /Catalog >> endobj\n%%%%EOF\n' \
  >"$run/cv.pdf"
boundary=VeltranoDemoBoundary
part() { printf -- '--%s\r\nContent-Disposition: form-data; name="%s"%s\r\n\r\n%s\r\n' \
  "$boundary" "$1" "$2" "$3"; }
body=$(
  part name '' 'Ann Example'
  part email '' root@localhost.localdomain
  part position '' 'Web developer'
  part letter '' 'Please find my CV attached.'
  printf -- '--%s\r\nContent-Disposition: form-data; name="cv"; filename="cv.pdf"\r\n' "$boundary"
  printf 'Content-Type: application/pdf\r\n\r\n'
  cat "$run/cv.pdf"
  printf '\r\n'
  part to '' root@localhost
  printf -- '--%s--\r\n' "$boundary"
)
submit apply.tpl CONTENT_TYPE="multipart/form-data; boundary=$boundary" || failed "veltrano2.exe failed"
[ "$(page_title)" = "Thank you" ] || failed "the page is not the thank-you page: $(page_title)"
wait_for_mails 2 || failed "$(count_new_mails) of 2 mails arrived in $mailbox within 20 s"
# The attachment's base64 lines, decoded: the file as the mail carries it.
new_mails | tr -d '\r' | awk '
  /^Content-Disposition: attachment/ { part = 1; next }
  part == 1 && /^$/ { part = 2; next }
  part == 2 && /^--/ { exit }
  part == 2 { print }' | base64 -d >"$run/cv.received" 2>"$log" || failed "the CV does not decode"
cmp -s "$run/cv.pdf" "$run/cv.received" || failed "the CV that arrived differs from the one sent"
mails_total=$((mails_total + 2))
done_ "thank-you page, 2 mails delivered, the CV attached to the first"
echo "  The fields it sends: name, email, position, letter and to as in a form, and the file:"
printf '    %-8s %s\n' cv "cv.pdf, $(wc -c <"$run/cv.pdf") bytes, application/pdf"
show_mails
echo "  (The CV, decoded from the attachment, is the file sent byte for byte; the confirmation has none.)"

echo "Done in $(elapsed "$started"): 4 submissions, $mails_total mails delivered (1 encrypted," \
  "1 with a file), 1 data line; the refused submission sent and wrote nothing."
echo "Next: docs/install.md puts this form behind a web server (Apache, nginx or lighttpd) with the Debian package."
