#!/bin/sh
# Two `make package` runs of one source give the same bytes: the package in
# build/package is set aside, the tree is packaged again from nothing under
# another umask, time zone and locale, at a later time, and the two .deb
# files are compared byte for byte. On a difference it shows where (archive
# members, then the files and modes inside them).
#   tests/packaging/reproducible_test.sh     (from the project's root, after make package)
set -eu
arch=$(dpkg --print-architecture)
deb=zeva-rotator_2.0.1-1_$arch.deb
fail() { echo "reproducible_test: FAILED: $*" >&2; exit 1; }
[ -f "build/package/$deb" ] || fail "no build/package/$deb: run make package first"

first=$(mktemp -d "${TMPDIR:-/tmp}/zeva-repro.XXXXXX")
trap 'rm -rf "$first"' EXIT
mv build/package "$first/package"
if ! (umask 002 && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 ${MAKE:-make} package) \
     >"$first/second.log" 2>&1; then
  tail -n 30 "$first/second.log" >&2
  fail "the second make package"
fi
if cmp -s "$first/package/$deb" "build/package/$deb"; then
  echo "reproducible_test: 1 passed, 0 failed ($deb built twice, the same $(wc -c <"build/package/$deb") bytes)"
  exit 0
fi

echo "reproducible_test: $deb differs between two builds of one source:" >&2
for n in 1 2; do
  dir="$first/unpacked$n"
  mkdir -p "$dir"
  if [ $n = 1 ]; then file="$first/package/$deb"; else file="$PWD/build/package/$deb"; fi
  (cd "$dir" && ar tv "$file" >members && ar x "$file" &&
   for t in control.tar.* data.tar.*; do tar tvf "$t"; done >listing &&
   mkdir files && tar xf control.tar.* -C files && tar xf data.tar.* -C files)
done
diff "$first/unpacked1/members" "$first/unpacked2/members" >&2 || true
diff "$first/unpacked1/listing" "$first/unpacked2/listing" >&2 || true
diff -r "$first/unpacked1/files" "$first/unpacked2/files" >&2 || true
fail "two builds of one source differ"
