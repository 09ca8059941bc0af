#!/usr/bin/env bash
# Does the cost of one request grow linearly with its inputs? Runs
# veltrano2.exe under callgrind (instruction counts: exact, and immune to a
# noisy machine) with each input at 1x, 10x and 100x while the others stay
# as in the benchmark form:
#   body          the form body (157 bytes at 1x), no mail
#   fields        form fields (5 at 1x), each with a value, no mail
#   template      template size (the no-mail template at 1x, notes added), no mail
#   placeholders  placeholders in the mail body (10 at 1x), one mail
#   addresses     address-file lines (10 at 1x), one mail to all of them
#   upload        a PDF uploaded (50 KiB at 1x) and attached to one mail
# A whole process has a fixed start-up cost, so 10x/1x stays well below 10
# even for a quadratic step; the step ratio (100x-10x)/(10x-1x) cancels it:
# 10 for linear growth, 100 for quadratic.
#
#   bench/scaling.sh [--link dynamic|static-runtime|static]
set -euo pipefail
. "$(dirname "$0")/lib.sh"

variant=dynamic
[ "${1:-}" = --link ] && variant=$2

bench_need_packages cmake g++ make postfix valgrind
bench_log "building into build-bench/$variant (Release)"
bench_build_veltrano "$variant"

work=$(mktemp -d /tmp/veltrano-scaling.XXXXXX)
trap 'bench_stop_sink; rm -rf "$work"' EXIT
bench_start_sink "$work"
smtp=127.0.0.1:$SINK_PORT

# instructions CASE FACTOR: the instruction count of one request.
instructions() {
  local case=$1 n=$2 dir=$work/$1-$2 type=application/x-www-form-urlencoded
  mkdir -p "$dir"
  cp "$BENCH_BUILD/$variant/veltrano2.exe" "$dir/"
  bench_write_pages "$dir"
  case $case in
    body) bench_template "" >"$dir/t.tpl"; bench_body 5 "$n" >"$dir/body.txt" ;;
    fields) bench_template "" $((5 * n)) >"$dir/t.tpl"; bench_body $((5 * n)) >"$dir/body.txt" ;;
    template) bench_template "" 5 0 0 "$n" >"$dir/t.tpl"; bench_body >"$dir/body.txt" ;;
    placeholders) bench_template "$smtp" 5 $((10 * n)) >"$dir/t.tpl"; bench_body >"$dir/body.txt" ;;
    addresses)
      bench_template "$smtp" 5 0 $((10 * n)) >"$dir/t.tpl"
      bench_write_addresses "$dir" $((10 * n))
      bench_body >"$dir/body.txt"
      ;;
    upload)
      bench_upload_template "$smtp" >"$dir/t.tpl"
      bench_upload_body $((50 * n)) >"$dir/body.txt"
      type=$BENCH_UPLOAD_TYPE
      ;;
  esac
  local before
  before=$(bench_sink_messages)
  # shellcheck disable=SC2046
  (cd "$dir" && env -i $(bench_cgi_env t.tpl "$dir/body.txt" "$dir/veltrano2.exe" "$type") \
    valgrind --tool=callgrind --callgrind-out-file="$dir/callgrind.out" "$dir/veltrano2.exe" \
    <"$dir/body.txt" >"$dir/page.html" 2>"$dir/valgrind.log")
  if ! grep -q "$BENCH_MARKER" "$dir/page.html"; then
    bench_log "$case at ${n}x did not give the success page:"
    head -c 2000 "$dir/page.html" >&2
    return 1
  fi
  case $case in placeholders | addresses | upload)
    [ "$(bench_sink_messages)" -gt "$before" ] || { bench_log "$case at ${n}x sent no mail"; return 1; } ;;
  esac
  awk '/^(summary|totals):/ { print $2; exit }' "$dir/callgrind.out"
}

bench_machine
echo "instructions of one request (callgrind, $variant link, $(valgrind --version))"
printf '%-13s %-28s %12s %12s %12s %8s %8s\n' input "1x / 10x / 100x" "Ir 1x" "Ir 10x" "Ir 100x" \
  "10x/1x" "step"
for case in body fields template placeholders addresses upload; do
  one=$(instructions "$case" 1)
  ten=$(instructions "$case" 10)
  hundred=$(instructions "$case" 100)
  case $case in
    body) sizes="$(stat -c %s "$work/body-1/body.txt") / $(stat -c %s "$work/body-10/body.txt") / $(stat -c %s "$work/body-100/body.txt") bytes" ;;
    fields) sizes="5 / 50 / 500 fields" ;;
    template) sizes="$(stat -c %s "$work/template-1/t.tpl") / $(stat -c %s "$work/template-10/t.tpl") / $(stat -c %s "$work/template-100/t.tpl") bytes" ;;
    placeholders) sizes="10 / 100 / 1000" ;;
    addresses) sizes="10 / 100 / 1000 lines" ;;
    upload) sizes="50 / 500 / 5000 KiB" ;;
  esac
  awk -v c="$case" -v s="$sizes" -v a="$one" -v b="$ten" -v h="$hundred" 'BEGIN {
    printf "%-13s %-28s %12.0f %12.0f %12.0f %8.2f %8.2f\n", c, s, a, b, h, b / a, (h - b) / (b - a) }'
done
echo "10x/1x: whole request, start-up included; step: (Ir 100x - Ir 10x) / (Ir 10x - Ir 1x), 10 when linear"
