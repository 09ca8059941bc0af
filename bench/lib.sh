# Shared by bench/run.sh and bench/scaling.sh (sourced, not run): installing
# what a fresh Debian 12 lacks, building Veltrano and the reference programs
# into build-bench/, writing a benchmark site, and a private SMTP sink on a
# loopback port. Nothing here touches a system service or system data.

BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_BUILD=$BENCH_ROOT/build-bench

# The benchmark form: five fields, a 157-byte body.
BENCH_BODY='name=Ann+Example&email=ann%40example.org&phone=0123456789&message=Hello%2C+please+send+me+your+price+list+and+opening+hours.+Thanks%21&to=sales%40example.com'
BENCH_MARKER='Thank you'

bench_log() { echo "bench: $*" >&2; }

# Installs the Debian packages that are missing. No package may start a
# system service meanwhile (lighttpd would take port 80, Postfix port 25): a
# policy-rc.d that refuses every start stands for the length of the install.
bench_need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  bench_log "installing ${missing[*]}"
  $sudo apt-get update -qq
  if printf '%s\n' "${missing[@]}" | grep -qx postfix; then
    # The answers tools/install-deps.sh gives, so the project's own mail
    # tests find Postfix as they expect it.
    printf '%s\n' "postfix postfix/main_mailer_type select Local only" \
      "postfix postfix/mailname string $(hostname -f 2>/dev/null || hostname)" |
      $sudo debconf-set-selections
  fi
  local policy=/usr/sbin/policy-rc.d rc=0
  if [ -e "$policy" ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null || rc=$?
  else
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null || rc=$?
    $sudo rm -f "$policy"
  fi
  return $rc
}

# bench_build_veltrano VARIANT: a Release build linked as VARIANT (dynamic,
# static-runtime or static) in build-bench/VARIANT/.
bench_build_veltrano() {
  local dir=$BENCH_BUILD/$1
  mkdir -p "$BENCH_BUILD"
  cmake -S "$BENCH_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVELTRANO_LINK="$1" >"$dir.log" 2>&1 &&
    cmake --build "$dir" -j2 --target veltrano2.exe >>"$dir.log" 2>&1 ||
    { cat "$dir.log" >&2; return 1; }
}

# The runner and the two reference CGI programs, static, in build-bench/tools/.
bench_build_tools() {
  mkdir -p "$BENCH_BUILD/tools"
  local name
  for name in cgirun min_cgi min_smtp_cgi; do
    cc -O2 -Wall -Wextra -Werror -static -o "$BENCH_BUILD/tools/$name" \
      "$BENCH_ROOT/bench/$name.c" 2>"$BENCH_BUILD/tools/$name.log" ||
      { cat "$BENCH_BUILD/tools/$name.log" >&2; return 1; }
  done
}

bench_port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# bench_pick_port FIRST: the first port from FIRST up that nothing listens on.
bench_pick_port() {
  local port=$1
  while ! bench_port_free "$port"; do port=$((port + 1)); done
  echo "$port"
}

# bench_wait_port PORT PID: waits up to 5 s for PORT to accept connections.
bench_wait_port() {
  local i
  for ((i = 0; i < 50; i++)); do
    bench_port_free "$1" || return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# bench_start_sink DIR: Postfix's smtp-sink on 127.0.0.1, accepting every
# mail and keeping none; sets SINK_PORT and SINK_PID, counters in DIR/sink.log.
bench_start_sink() {
  local user=()
  [ "$(id -u)" -ne 0 ] || user=(-u nobody)
  SINK_LOG=$1/sink.log
  SINK_PORT=$(bench_pick_port "${BENCH_SINK_PORT:-2526}")
  /usr/sbin/smtp-sink -c "${user[@]}" -m 512 "127.0.0.1:$SINK_PORT" 256 >"$SINK_LOG" 2>&1 &
  SINK_PID=$!
  bench_wait_port "$SINK_PORT" "$SINK_PID" || { bench_log "smtp-sink did not start"; return 1; }
}

bench_stop_sink() {
  [ -n "${SINK_PID:-}" ] || return 0
  kill "$SINK_PID" 2>/dev/null || true
  wait "$SINK_PID" 2>/dev/null || true
  SINK_PID=
}

# Mails the sink has accepted so far (its running counter).
bench_sink_messages() {
  tr '\r' '\n' <"$SINK_LOG" | grep -o 'mesg=[0-9]*' | tail -n 1 | cut -d= -f2 | grep . || echo 0
}

# bench_write_pages DIR: the success and error pages of the benchmark site.
bench_write_pages() {
  printf '%s\n' 'Content-type: text/html' '' '<HTML>' '<HEAD><TITLE>Thank you</TITLE></HEAD>' \
    '<BODY>' '<H1>Thank you, $name$</H1>' \
    '<P>Your message has been received. We will answer you soon.</P>' '</BODY>' '</HTML>' \
    >"$1/success.htm"
  printf '%s\n' 'Content-type: text/html' '' '<HTML>' \
    '<HEAD><TITLE>Please check the form</TITLE></HEAD>' '<BODY>' \
    '<H1>Some fields need your attention</H1>' '<UL>' '$err$' '</UL>' '</BODY>' '</HTML>' \
    >"$1/error.htm"
}

# bench_template SMTP [FIELDS [PLACEHOLDERS [ADDRESSES [SIZE_FACTOR]]]]
# prints a template for the benchmark form. SMTP (host:port) empty: no mail.
# FIELDS (at least 5): the five form fields, then extra6, extra7 ...
# PLACEHOLDERS > 0: a mail body of that many placeholders instead of the
# usual one. ADDRESSES > 0: an address file addresses-N.txt of that many
# lines (bench_write_addresses writes it). SIZE_FACTOR > 1: notes at the top
# make the template that many times its own size.
bench_template() {
  local smtp=$1 fields=${2:-5} placeholders=${3:-0} addresses=${4:-0} factor=${5:-1}
  local text i
  if [ -n "$smtp" ]; then
    text+="<SMTPSERVER>$smtp</SMTPSERVER>"$'\n'
    text+="<SENDER>webform@localhost</SENDER>"$'\n'
    text+="<SUBJECT>Contact form: message from \$name\$</SUBJECT>"$'\n'
    text+="<MSGBODY>"
    if [ "$placeholders" -gt 0 ]; then
      local names=(name email phone systemdate remote_addr)
      for ((i = 0; i < placeholders; i++)); do
        text+="\$${names[i % 5]}\$"
        ((i % 5 == 4)) && text+=$'\n' || text+=" "
      done
    else
      text+=$'Name: $name$\nE-mail: $email$\nPhone: $phone$\n\n$message$\n'
    fi
    text+="</MSGBODY>"$'\n'
    [ "$addresses" -gt 0 ] && text+="<ADRFILE>addresses-$addresses.txt</ADRFILE>"$'\n'
  fi
  text+=$'<ERRMSGFILE>error.htm</ERRMSGFILE>\n<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>\n'
  text+=$'<FORMDATA>\n'
  text+=$'<NAME="name" required REQUIREDERR="Please tell us your name.">\n'
  text+=$'<NAME="email" required REQUIREDERR="Please give your e-mail address." TYPE="EMAIL" TYPEERR="That e-mail address is not valid.">\n'
  text+=$'<NAME="phone" TYPE="INT" TYPEERR="Please give the number in digits.">\n'
  text+=$'<NAME="message">\n'
  # Without a mail server the hidden field is an ordinary one: a sendto field
  # there would (rightly) write a log line on every request.
  if [ -n "$smtp" ]; then text+=$'<NAME="to" sendto>\n'; else text+=$'<NAME="to">\n'; fi
  for ((i = 6; i <= fields; i++)); do text+="<NAME=\"extra$i\">"$'\n'; done
  text+=$'</FORMDATA>\n'
  local notes="" target=$((${#text} * factor))
  local line='Notes for the administrator: this form mails the shop. // a comment to the end of the line'
  i=0
  while ((${#notes} + ${#text} < target)); do
    notes+="$line $((++i))"$'\n'
  done
  printf '%s%s' "$notes" "$text"
}

# bench_write_addresses DIR N: an address file of N lines.
bench_write_addresses() {
  local i
  for ((i = 1; i <= $2; i++)); do echo "copy$i@example.com"; done >"$1/addresses-$2.txt"
}

# bench_body [FIELDS [SIZE_FACTOR]]: the form body, with a value for each
# extra field, grown in its message to SIZE_FACTOR times 157 bytes.
bench_body() {
  local fields=${1:-5} factor=${2:-1} body=$BENCH_BODY i
  if [ "$factor" -gt 1 ]; then
    local head=${body%&to=*} tail="&to=${body#*&to=}"
    while ((${#head} + ${#tail} < ${#BENCH_BODY} * factor)); do head+="+more"; done
    body=$head$tail
  fi
  for ((i = 6; i <= fields; i++)); do body+="&extra$i=value+$i"; done
  printf '%s' "$body"
}

# bench_write_site DIR EXE SMTP: a site directory as a web server would have
# it: veltrano2.exe, the pages, nomail.tpl (checks and the success page),
# mail.tpl (the same and one mail to SMTP) and localhost.tpl (the mail to the
# same port through the host name localhost).
bench_write_site() {
  mkdir -p "$1"
  cp "$2" "$1/veltrano2.exe"
  bench_write_pages "$1"
  bench_template "" >"$1/nomail.tpl"
  bench_template "$3" >"$1/mail.tpl"
  bench_template "localhost:${3#*:}" >"$1/localhost.tpl"
}

# bench_upload_template SMTP [KEY]: a template taking a PDF (ATTACH) that
# it mails with the main mail (PGP/MIME for KEY if given) and a
# confirmation without it; MAXUPLOAD 16 MiB.
bench_upload_template() {
  local pgp=""
  [ -n "${2:-}" ] && pgp=" PGP=\"$2\""
  printf '%s\n' "<SMTPSERVER>$1</SMTPSERVER>" \
    '<SENDER>webform@localhost</SENDER>' '<SUBJECT>Application from $name$</SUBJECT>' \
    '<MSGBODY>Name: $name$' 'E-mail: $email$' 'CV: $cv$' '</MSGBODY>' \
    '<RSUBJECT>Thank you</RSUBJECT>' '<RMSGBODY>We have your application.' '</RMSGBODY>' \
    '<MAXUPLOAD>16777216</MAXUPLOAD>' '<PGPMIME>on</PGPMIME>' \
    '<ERRMSGFILE>error.htm</ERRMSGFILE>' '<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>' \
    '<FORMDATA>' '<NAME="name" required REQUIREDERR="name">' '<NAME="email" respondto>' \
    "<NAME=\"to\" sendto$pgp>" \
    '<NAME="cv" required REQUIREDERR="cv" ATTACH="pdf" ATTACHERR="pdf">' '</FORMDATA>'
}

BENCH_UPLOAD_BOUNDARY=----BenchBoundary7MA4YWxkTrZu0gW
# No space in it: bench_cgi_env's words are split.
BENCH_UPLOAD_TYPE="multipart/form-data;boundary=$BENCH_UPLOAD_BOUNDARY"

# bench_upload_body KIB: the multipart body of bench_upload_template's
# form with a PDF of KIB KiB (random bytes after its signature).
bench_upload_body() {
  local field
  for field in "name=Ann Example" "email=ann@example.org" "to=hr@example.org"; do
    printf -- '--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n' \
      "$BENCH_UPLOAD_BOUNDARY" "${field%%=*}" "${field#*=}"
  done
  printf -- '--%s\r\nContent-Disposition: form-data; name="cv"; filename="cv.pdf"\r\n' \
    "$BENCH_UPLOAD_BOUNDARY"
  printf 'Content-Type: application/pdf\r\n\r\n%%PDF-1.4\n'
  head -c $(($1 * 1024 - 9)) /dev/urandom
  printf '\r\n--%s--\r\n' "$BENCH_UPLOAD_BOUNDARY"
}

# The CGI environment of a POST of BODY_FILE with QUERY_STRING, for env -i;
# CONTENT_TYPE URL-encoded unless given.
bench_cgi_env() {
  local query=$1 body_file=$2 exe=$3 type=${4:-application/x-www-form-urlencoded}
  echo PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    GATEWAY_INTERFACE=CGI/1.1 "SERVER_SOFTWARE=Apache/2.4.62" SERVER_NAME=localhost \
    SERVER_PORT=80 SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST \
    "QUERY_STRING=$query" "CONTENT_TYPE=$type" \
    "CONTENT_LENGTH=$(stat -c %s "$body_file")" REMOTE_ADDR=127.0.0.1 HTTP_HOST=localhost \
    "SCRIPT_FILENAME=$exe"
}

# bench_cgi_once EXE QUERY BODY_FILE: one request; prints the page.
bench_cgi_once() {
  local exe=$1
  # shellcheck disable=SC2046
  (cd "$(dirname "$exe")" && env -i $(bench_cgi_env "$2" "$3" "$exe") "$exe" <"$3")
}

bench_machine() {
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r), $(. /etc/os-release && echo "$PRETTY_NAME")"
}
