#!/usr/bin/env bash
# Veltrano's main job, end to end: builds the program, makes sure the local
# mail server (Postfix on 127.0.0.1:25) runs, puts the program and the example
# site in a site directory, submits the contact form to it as a web server
# would, and prints the response and the mails delivered to root@localhost.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" --target veltrano2.exe >/dev/null

site=$(mktemp -d)
trap 'rm -rf "$site"' EXIT
cp build/veltrano2.exe "$site/"
# The example site: contact.tpl with its success and error pages.
cp examples/* "$site/"

tools/postfix-start.sh
mailbox=/var/mail/root
before=$(stat -c %s "$mailbox" 2>/dev/null || echo 0)

# The hidden field "to" receives the message; the visitor (here root too)
# gets the confirmation.
body='name=Ann+Example&email=root%40localhost.localdomain&message=Hello+there.%0D%0A.%0D%0ABye&to=root%40localhost'
echo "== Response to a submission of: $body"
cd /
printf '%s' "$body" | env -i PATH=/usr/bin:/bin \
  QUERY_STRING='contact.tpl' REQUEST_METHOD=POST CONTENT_LENGTH=${#body} \
  CONTENT_TYPE=application/x-www-form-urlencoded SERVER_SOFTWARE='Apache/2.4' \
  "$site/veltrano2.exe"
echo

# Two mails: the message and the confirmation. Delivery takes a moment.
new_mails() {
  local size
  size=$(stat -c %s "$mailbox" 2>/dev/null || echo 0)
  [ "$size" -ge "$before" ] || before=0
  tail -c +$((before + 1)) "$mailbox" 2>/dev/null | grep -c '^From ' || true
}
for _ in $(seq 100); do
  [ "$(new_mails)" -ge 2 ] && break
  sleep 0.2
done
echo "== Mail delivered to root@localhost ($mailbox)"
tail -c +$((before + 1)) "$mailbox"
