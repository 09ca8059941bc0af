#!/usr/bin/env bash
# Builds the Debian package of this checkout and prints the path of the
# .deb, the only line on standard output.
#
#     packaging/build-deb.sh [DIR]
#
# DIR (default build-deb/ in the checkout) gets cmake/, a fresh build
# configured as Debian builds packages (its hardening flags, prefix /usr,
# glibc linked dynamically; the build's output in DIR/build.log), and the
# .deb beside it. Anything else in DIR stays. Needs cmake, g++, make,
# dpkg-dev and file (tools/install-deps.sh installs them); root is not
# needed.
# packaging/check-deb.sh builds the package with this script and checks it.
set -euo pipefail
src=$(realpath "$(dirname "$0")/..")
out=$(realpath -m "${1:-$src/build-deb}")

fail() {
  echo "build-deb: $*" >&2
  exit 1
}
for tool in cmake g++ make dpkg-buildflags dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done

mkdir -p "$out"
rm -rf "$out/cmake" "$out"/veltrano_*.deb
log=$out/build.log
echo "build-deb: building in $out/cmake (output in $log)" >&2
{
  # Debian's build flags with every hardening feature; CMake reads no CPPFLAGS.
  eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
  CXXFLAGS="$CXXFLAGS $CPPFLAGS" cmake -S "$src" -B "$out/cmake" -DCMAKE_BUILD_TYPE=None \
    -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr -DVELTRANO_LINK=static-runtime &&
    cmake --build "$out/cmake" -j"$(nproc)" &&
    (cd "$out/cmake" && cpack -G DEB)
} >"$log" 2>&1 || {
  tail -n 40 "$log" >&2
  fail "the build failed (the whole output is in $log)"
}
debs=("$out"/cmake/veltrano_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one veltrano_*.deb in $out/cmake"
mv "${debs[0]}" "$out/"
echo "$out/$(basename "${debs[0]}")"
