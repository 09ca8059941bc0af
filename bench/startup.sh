#!/usr/bin/env bash
# Startup cost of one CGI run, which the web server pays for every
# submission: the example site's success path (no mail) run N times, timed
# against /bin/true in the same run, so the ratio holds on a noisy machine.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
cmake -S . -B build-bench -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j2 --target veltrano2.exe >/dev/null

site=$(mktemp -d)
trap 'rm -rf "$site"' EXIT
cp build-bench/veltrano2.exe examples/success.htm examples/error.htm "$site/"
printf '%s\n' '<ERRMSGFILE>error.htm</ERRMSGFILE><SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>' \
  '<FORMDATA>' '<NAME="name" required REQUIREDERR="Name?">' '</FORMDATA>' >"$site/bench.tpl"
body='name=Ann'

time_runs() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do
    printf '%s' "$body" | env -i QUERY_STRING=bench.tpl REQUEST_METHOD=POST \
      CONTENT_LENGTH=${#body} "$@" >/dev/null
  done
  end=$(date +%s%N)
  echo $(((end - start) / runs / 1000))
}

baseline=$(time_runs /bin/true)
veltrano=$(time_runs "$site/veltrano2.exe")
echo "runs: $runs"
echo "/bin/true:     ${baseline} us per run"
echo "veltrano2.exe: ${veltrano} us per run"
awk -v a="$veltrano" -v b="$baseline" 'BEGIN { printf "ratio: %.2f\n", a / b }'
