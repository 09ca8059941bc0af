#!/usr/bin/env bash
# Files through veltrano2.exe (ATTACH): memory and time of one request with
# one uploaded file of growing size, started as a web server starts it
# (bench/cgirun.c), the file attached to the main mail and a plain
# confirmation sent to a private SMTP sink; once with the mail in plain, once
# encrypted as PGP/MIME through tools/pgp.exe and GnuPG (a throwaway key).
#
#   bench/upload.sh [--rounds N] [--sizes "KIB ..."]
#
# Prints, per file size, the medians of wall time, CPU time and peak RSS,
# and the bound the peak must keep to: 3 times the upload plus 4 MiB.
# Builds the static program in build-bench/static; everything else lives in
# a temporary directory, removed at the end. No figure is asserted.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

rounds=20
sizes="512 1024 2560 5120"
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift ;;
    --sizes) sizes=$2; shift ;;
    *) echo "usage: bench/upload.sh [--rounds N] [--sizes \"KIB ...\"]" >&2; exit 2 ;;
  esac
  shift
done

bench_need_packages cmake g++ make postfix gnupg
bench_log "building into build-bench/static (Release)"
bench_build_veltrano static
bench_build_tools

work=$(mktemp -d /tmp/veltrano-upload.XXXXXX)
cleanup() {
  GNUPGHOME=$work/gnupg gpgconf --kill gpg-agent 2>/dev/null || true
  bench_stop_sink
  rm -rf "$work"
}
trap cleanup EXIT
bench_start_sink "$work"

site=$work/site
mkdir -p "$site" "$work/bin" "$work/tmp" "$work/gnupg"
chmod 700 "$work/gnupg" "$work/tmp"
cp "$BENCH_BUILD/static/veltrano2.exe" "$site/"
cp "$BENCH_ROOT/tools/pgp.exe" "$work/bin/"
bench_write_pages "$site"
GNUPGHOME=$work/gnupg gpg --batch --quiet --passphrase '' \
  --quick-gen-key bench@localhost default default never 2>/dev/null

bench_upload_template "127.0.0.1:$SINK_PORT" >"$site/upload.tpl"
bench_upload_template "127.0.0.1:$SINK_PORT" bench@localhost >"$site/secure.tpl"

bench_machine
echo "one request: a PDF upload of the size given, attached to one main mail, and a confirmation;"
echo "plain, and encrypted (PGP/MIME, gpg $(gpg --version | head -n 1 | awk '{ print $3 }')); SMTP sink on 127.0.0.1:$SINK_PORT"
printf '\n%-10s %-10s %9s %9s %9s %11s %10s  %s\n' upload mail "wall ms" "CPU ms" "RSS MiB" \
  "bound MiB" "CPU ms/MiB" "peak within 3x + 4 MiB"
for kib in $sizes; do
  bench_upload_body "$kib" >"$work/body"
  before=$(bench_sink_messages)
  out=$("$BENCH_BUILD/tools/cgirun" -n "$rounds" -w 2 -b "$work/body" -e "$work/stderr.log" \
    -t "$BENCH_UPLOAD_TYPE" -E "PATH=$work/bin:/usr/bin:/bin" \
    -E "GNUPGHOME=$work/gnupg" -E "TMP=$work/tmp" \
    "plain|$site/veltrano2.exe|upload.tpl|$BENCH_MARKER|" \
    "encrypted|$site/veltrano2.exe|secure.tpl|$BENCH_MARKER|")
  want=$(((rounds + 2) * 4))
  got=$(($(bench_sink_messages) - before))
  [ "$got" -eq "$want" ] || { bench_log "the sink got $got mails, want $want"; exit 1; }
  awk -v kib="$kib" '$1 == "plain" || $1 == "encrypted" {
    mib = kib / 1024; bound = 3 * mib + 4
    printf "%-10s %-10s %9.1f %9.1f %9.2f %11.2f %10.1f  %s\n", kib " KiB", $1, $2, $3, $4, bound,
      $3 / mib, ($4 <= bound ? "yes" : "NO")
  }' <<<"$out"
done
echo "medians of $rounds rounds after 2 warm-up rounds; RSS: peak resident memory (wait4), of"
echo "the larger of veltrano2.exe and, encrypted, gpg (wait4 counts the children); CPU: both"
[ -s "$work/tmp" ] && [ -n "$(ls -A "$work/tmp")" ] && { bench_log "temporary files left in TMP"; exit 1; }
exit 0
