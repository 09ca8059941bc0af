#!/usr/bin/env bash
# Veltrano's main job, end to end: builds the program, starts a private
# Postfix instance (tools/postfix-start.sh: build/postfix, 127.0.0.1:2525,
# local delivery into build/postfix/mail), puts the program and the example
# site in a fresh site directory and submits the contact form to it as a web
# server would. It prints the success page, the mails delivered to
# root@localhost and the data-file line; then the error page of a submission
# that fails its checks; then, where GnuPG is present, a PGP-encrypted
# submission. Nothing outside the project's build/ and a temporary site
# directory is written; the system's Postfix is not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" --target veltrano2.exe >/dev/null

eval "$(tools/postfix-start.sh)"
mailbox=$VELTRANO_MAIL_DIR/root

# The site: the program with the example templates and pages in cgi-bin/, as
# in a web server's CGI directory, and the data file beside it in data/, out
# of the visitors' reach (they can name any file below cgi-bin/ as template).
site=$(mktemp -d)
cleanup() {
  [ ! -d "$site/gnupg" ] || GNUPGHOME="$site/gnupg" gpgconf --kill gpg-agent
  rm -rf "$site"
  [ "$VELTRANO_POSTFIX_STARTED" = 0 ] || tools/postfix-stop.sh
}
trap cleanup EXIT
mkdir "$site/cgi-bin" "$site/data"
cp build/veltrano2.exe examples/* "$site/cgi-bin/"
# The templates' mail server becomes the private instance, and contact.tpl's
# data file and the rate limit's state file move from /var/lib/veltrano into
# the site.
sed -i -e "s|<SMTPSERVER>.*</SMTPSERVER>|<SMTPSERVER>$VELTRANO_SMTP</SMTPSERVER>|" \
  -e "s|<DFILE APPEND>.*</DFILE>|<DFILE APPEND>$site/data/contact.csv</DFILE>|" \
  -e "s|<RATELIMIT>/var/lib/veltrano/|<RATELIMIT>$site/data/|" \
  "$site/cgi-bin/contact.tpl" "$site/cgi-bin/secure.tpl"

# submit TEMPLATE BODY [VAR=VALUE...]: one CGI run, started from / with a
# clean environment, as a web server starts it.
submit() {
  local template=$1 body=$2
  shift 2
  echo "== Response to a submission to $template of: $body"
  (cd / && printf '%s' "$body" | env -i PATH="$site/bin:/usr/bin:/bin" "$@" \
    QUERY_STRING="$template" REQUEST_METHOD=POST CONTENT_LENGTH=${#body} \
    CONTENT_TYPE=application/x-www-form-urlencoded SERVER_SOFTWARE='Apache/2.4' \
    "$site/cgi-bin/veltrano2.exe")
  echo
}

# wait_for_mails N: prints the N mails that arrive in the mailbox from now on.
mailbox_size() { stat -c %s "$mailbox" 2>/dev/null || echo 0; }
wait_for_mails() {
  local want=$1 got=0
  for _ in $(seq 100); do
    got=$(tail -c +$((before + 1)) "$mailbox" 2>/dev/null | grep -c '^From ' || true)
    [ "$got" -ge "$want" ] && break
    sleep 0.2
  done
  echo "== $got mail(s) delivered to root@localhost ($mailbox)"
  tail -c +$((before + 1)) "$mailbox"
}

# 1. An accepted submission. The hidden field "to" receives the message; the
# visitor (here root too) gets the confirmation.
before=$(mailbox_size)
submit contact.tpl \
  'name=Ann+Example&email=root%40localhost.localdomain&message=Hello+there.%0D%0A.%0D%0ABye&to=root%40localhost'
wait_for_mails 2
echo "== Data file line ($site/data/contact.csv)"
cat "$site/data/contact.csv"
echo

# 2. A submission that fails its checks: no name, a bad e-mail address.
submit contact.tpl 'name=&email=not-an-address&message=Hi&to=root%40localhost'

# 3. The same message, encrypted for root@localhost with a throwaway key.
if command -v gpg >/dev/null; then
  export GNUPGHOME="$site/gnupg"
  mkdir -m 700 "$GNUPGHOME" "$site/bin"
  cp tools/pgp.exe "$site/bin/"
  gpg --batch --quiet --passphrase '' --quick-gen-key 'Veltrano demo <root@localhost>' \
    default default never 2>/dev/null
  before=$(mailbox_size)
  submit secure.tpl 'name=Ann+Example&email=root%40localhost.localdomain&message=Secret&to=root%40localhost' \
    GNUPGHOME="$GNUPGHOME"
  wait_for_mails 2 | sed -n '/^-----BEGIN PGP MESSAGE/,/^-----END PGP MESSAGE/p' >"$site/armour"
  echo "== The encrypted message as delivered"
  cat "$site/armour"
  echo "== ... decrypted with root@localhost's key"
  gpg --batch --quiet --decrypt "$site/armour" 2>/dev/null
fi
