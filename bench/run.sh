#!/usr/bin/env bash
# Whole-process benchmark of veltrano2.exe against the floor of any CGI
# program. Builds Veltrano (Release, each link variant) and two static C
# reference programs, starts a private SMTP sink on a loopback port and
# measures, interleaved in one run:
#   no-mail request (template, checks, success page)  vs  a minimal CGI
#   one-mail request (the same and one mail)          vs  a minimal SMTP CGI
#   one-mail request answered in JSON (Accept)        vs  the same with the page
#
#   bench/run.sh [--rounds N] [--links "dynamic static-runtime static"]
#       each request started directly, as a web server does (argv[0], working
#       directory, CGI environment, body on a pipe); wall and CPU time, peak RSS
#   bench/run.sh --web [--requests N] [--clients N] [--rounds N] [--links ...]
#       through a private lighttpd + mod_cgi instance on a loopback port,
#       throughput with ab at 8 (or N) concurrent clients
#   --also LABEL=EXE (either mode, repeatable) measures another build of
#       veltrano2.exe beside them, e.g. an earlier version: before and after
#       in one run
#
# Installs what is missing with apt-get. Everything it makes is in
# build-bench/ and a temporary directory; its servers run only for the run.
# Timings are ratios from one interleaved run: compare those, not the
# absolute figures, across machines or runs.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

web=0
rounds=
requests=500
clients=8
links="dynamic static-runtime static"
also=()
while [ $# -gt 0 ]; do
  case $1 in
    --web) web=1 ;;
    --rounds) rounds=$2; shift ;;
    --requests) requests=$2; shift ;;
    --clients) clients=$2; shift ;;
    --links) links=$2; shift ;;
    --also) also+=("$2"); shift ;;
    *) echo "usage: bench/run.sh [--web [--requests N] [--clients N]] [--rounds N] [--links LIST] [--also LABEL=EXE]..." >&2; exit 2 ;;
  esac
  shift
done
[ "$web" = 1 ] && rounds=${rounds:-15} || rounds=${rounds:-500}

packages=(cmake g++ make postfix)
[ "$web" = 1 ] && packages+=(lighttpd apache2-utils)
bench_need_packages "${packages[@]}"

bench_log "building into build-bench/ (Release; link variants: $links)"
for variant in $links; do bench_build_veltrano "$variant"; done
bench_build_tools

work=$(mktemp -d /tmp/veltrano-bench.XXXXXX)
web_pid=
cleanup() {
  [ -z "$web_pid" ] || { kill "$web_pid" 2>/dev/null || true; wait "$web_pid" 2>/dev/null || true; }
  bench_stop_sink
  rm -rf "$work"
}
trap cleanup EXIT
bench_start_sink "$work"

# One directory per program, as under a web server's document root.
www=$work/www
mkdir -p "$www/min" "$www/smtp"
cp "$BENCH_BUILD/tools/min_cgi" "$www/min/min_cgi.cgi"
cp "$BENCH_BUILD/tools/min_smtp_cgi" "$www/smtp/min_smtp_cgi.cgi"
for variant in $links; do
  bench_write_site "$www/$variant" "$BENCH_BUILD/$variant/veltrano2.exe" "127.0.0.1:$SINK_PORT"
done
built=$links  # the variants built here, which answer JSON
for extra in "${also[@]}"; do
  [ -x "${extra#*=}" ] || { bench_log "--also $extra: no such program"; exit 2; }
  bench_write_site "$www/${extra%%=*}" "${extra#*=}" "127.0.0.1:$SINK_PORT"
  links+=" ${extra%%=*}"
done
bench_body >"$work/body.txt"

bench_machine
echo "form: 5 fields, $(stat -c %s "$work/body.txt")-byte body; SMTP sink: smtp-sink on 127.0.0.1:$SINK_PORT"

# Link variants: size, and whether a host name in SMTPSERVER still resolves
# (a fully static glibc program loads the NSS modules at run time for it).
echo
echo "link variants of veltrano2.exe"
printf '%-16s %10s  %s\n' variant "bytes" "SMTPSERVER localhost:$SINK_PORT"
for variant in $links; do
  before=$(bench_sink_messages)
  page=$(bench_cgi_once "$www/$variant/veltrano2.exe" localhost.tpl "$work/body.txt" 2>&1 || true)
  if grep -q "$BENCH_MARKER" <<<"$page" && [ "$(bench_sink_messages)" -gt "$before" ]; then
    resolved="mail sent"
  else
    resolved="FAILED: $(grep -o '<TITLE>[^<]*' <<<"$page" | head -n 1 | cut -c8-)"
  fi
  printf '%-16s %10s  %s\n' "$variant" "$(stat -c %s "$www/$variant/veltrano2.exe")" "$resolved"
done

rows_nomail=() rows_mail=() rows_json=()
for variant in $links; do
  rows_nomail+=("Veltrano no mail, $variant|$www/$variant/veltrano2.exe|nomail.tpl|$BENCH_MARKER|minimal CGI")
  rows_mail+=("Veltrano one mail, $variant|$www/$variant/veltrano2.exe|mail.tpl|$BENCH_MARKER|minimal SMTP CGI")
done
for variant in $built; do
  rows_json+=("Veltrano one mail JSON, $variant|$www/$variant/veltrano2.exe|mail.tpl|\"ok\": true|Veltrano one mail, $variant|HTTP_ACCEPT=application/json")
done

if [ "$web" = 0 ]; then
  echo
  echo "whole process, started as a web server starts a CGI program"
  before=$(bench_sink_messages)
  warmup=10
  "$BENCH_BUILD/tools/cgirun" -n "$rounds" -w "$warmup" -b "$work/body.txt" -e "$work/stderr.log" \
    "minimal CGI|$www/min/min_cgi.cgi|nomail.tpl|$BENCH_MARKER|" "${rows_nomail[@]}" \
    "minimal SMTP CGI|$www/smtp/min_smtp_cgi.cgi|$SINK_PORT|$BENCH_MARKER|" "${rows_mail[@]}" \
    "${rows_json[@]}"
  want=$(((rounds + warmup) * (1 + ${#rows_mail[@]} + ${#rows_json[@]})))
  got=$(($(bench_sink_messages) - before))
  echo "mails accepted by the sink: $got of $want"
  [ "$got" -eq "$want" ] || { bench_log "the sink did not get every mail"; exit 1; }
  exit 0
fi

# --web: a private lighttpd serving the same directories through mod_cgi.
web_port=$(bench_pick_port "${BENCH_WEB_PORT:-8089}")
mkdir -p "$work/lighttpd"
cat >"$work/lighttpd/lighttpd.conf" <<EOF
server.document-root = "$www"
server.bind = "127.0.0.1"
server.port = $web_port
server.errorlog = "$work/lighttpd/error.log"
server.upload-dirs = ( "$work/lighttpd" )
server.modules = ( "mod_cgi" )
server.max-connections = 256
cgi.assign = ( ".cgi" => "", ".exe" => "" )
EOF
lighttpd -D -f "$work/lighttpd/lighttpd.conf" &
web_pid=$!
bench_wait_port "$web_port" "$web_pid" ||
  { cat "$work/lighttpd/error.log" >&2; bench_log "lighttpd did not start"; exit 1; }

declare -a names urls refs
names=("minimal CGI") urls=("/min/min_cgi.cgi?nomail.tpl") refs=("")
for variant in $links; do
  names+=("Veltrano no mail, $variant") urls+=("/$variant/veltrano2.exe?nomail.tpl") refs+=(0)
done
smtp_index=${#names[@]}
names+=("minimal SMTP CGI") urls+=("/smtp/min_smtp_cgi.cgi?$SINK_PORT") refs+=("")
for variant in $links; do
  names+=("Veltrano one mail, $variant") urls+=("/$variant/veltrano2.exe?mail.tpl") refs+=("$smtp_index")
done

# One POST by hand first: every URL must give the success page.
size=$(stat -c %s "$work/body.txt")
for url in "${urls[@]}"; do
  page=$(exec 3<>"/dev/tcp/127.0.0.1/$web_port" &&
    printf 'POST %s HTTP/1.0\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: %s\r\n\r\n' \
      "$url" "$size" >&3 && cat "$work/body.txt" >&3 && cat <&3)
  grep -q "$BENCH_MARKER" <<<"$page" || { bench_log "$url gave:"; echo "$page" >&2; exit 1; }
done

# ab: requests per second; a failed or non-2xx request stops the benchmark.
ab_rate() {
  local out
  out=$(ab -q -n "$1" -c "$clients" -p "$work/body.txt" -T application/x-www-form-urlencoded \
    "http://127.0.0.1:$web_port$2" 2>&1) || { echo "$out" >&2; return 1; }
  if grep -q 'Non-2xx' <<<"$out" || ! grep -q '^Failed requests: *0$' <<<"$out"; then
    echo "$out" >&2
    return 1
  fi
  awk '/^Requests per second/ { print $4 }' <<<"$out"
}

echo
echo "through lighttpd $(lighttpd -v | sed -n 's/^lighttpd\/\([^ ]*\).*/\1/p') + mod_cgi, ab -c $clients, $requests requests per program per round, $rounds rounds interleaved"
count=${#names[@]}
declare -A rate
before=$(bench_sink_messages)
for ((i = 0; i < count; i++)); do ab_rate 200 "${urls[i]}" >/dev/null; done # warm-up
for ((r = 0; r < rounds; r++)); do
  for ((k = 0; k < count; k++)); do
    i=$(((r + k) % count))
    rate[$i,$r]=$(ab_rate "$requests" "${urls[i]}")
  done
done
want=$(((200 + requests * rounds) * (1 + ${#rows_mail[@]})))
got=$(($(bench_sink_messages) - before))

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf '%-36s %9s %13s %8s  %s\n' program "req/s" "range" "ratio" "ratio against"
for ((i = 0; i < count; i++)); do
  m=$(for ((r = 0; r < rounds; r++)); do echo "${rate[$i,$r]}"; done | median)
  range=$(for ((r = 0; r < rounds; r++)); do echo "${rate[$i,$r]}"; done | sort -g |
    awk 'NR == 1 { low = $1 } { high = $1 } END { printf "%.0f-%.0f", low, high }')
  if [ -n "${refs[i]}" ]; then
    ratio=$(for ((r = 0; r < rounds; r++)); do
      awk -v a="${rate[$i,$r]}" -v b="${rate[${refs[i]},$r]}" 'BEGIN { print a / b }'
    done | median)
    printf '%-36s %9.0f %13s %8.2f  %s\n' "${names[i]}" "$m" "$range" "$ratio" "${names[${refs[i]}]}"
  else
    printf '%-36s %9.0f %13s %8s\n' "${names[i]}" "$m" "$range" "-"
  fi
done
echo "req/s: median of $rounds rounds (range: lowest-highest); ratio: median of per-round throughput ratios"
echo "mails accepted by the sink: $got of $want"
[ "$got" -eq "$want" ] || { bench_log "the sink did not get every mail"; exit 1; }
