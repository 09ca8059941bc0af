#!/usr/bin/env bash
# Veltrano's main job, end to end: builds the program, puts it in a site
# directory and runs one form submission through it as a web server would,
# printing the response.
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

body='name=Ann+Example&email=ann%40example.org&message=Hello+there'
echo "== Response to a submission of: $body"
cd /
printf '%s' "$body" | env -i PATH=/usr/bin:/bin \
  QUERY_STRING='contact.tpl' REQUEST_METHOD=POST CONTENT_LENGTH=${#body} \
  CONTENT_TYPE=application/x-www-form-urlencoded SERVER_SOFTWARE='Apache/2.4' \
  "$site/veltrano2.exe"
echo
