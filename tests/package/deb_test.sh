#!/bin/bash
# The Debian package as a user gets it: its control fields (Depends satisfied by this machine's
# packages), exactly the converter's files in it, and the converter unpacked from it (dpkg -x into
# a throw-away root) run on the sample measurement, giving the expected table and messages of the
# end-to-end tests.
#   deb_test.sh <version> <package folder> <source folder>
set -euo pipefail
version=$1
packages=$2
source=$3
fail() {
  echo "deb_test: $*" >&2
  exit 1
}

arch=$(dpkg --print-architecture)
deb=$packages/traxcon_${version}_${arch}.deb
[ -f "$deb" ] || fail "no package $deb (make package)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- control fields ----------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = traxcon ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
case "$(field Maintainer)" in
  *?' <'*@*'>') ;;
  *) fail "Maintainer is no 'name <address>': $(field Maintainer)" ;;
esac
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "Depends: $depends"
# Every dependency names a package of this Debian (installed here, as the converter runs here) in a
# version that satisfies it; libc6 is among them.
saw_libc=no
IFS=',' read -ra items <<<"$depends"
for item in "${items[@]}"; do
  item=$(echo "$item" | sed 's/^ *//; s/ *$//')
  [ -n "$item" ] || fail "empty item in Depends: $depends"
  case "$item" in *'|'*) fail "alternatives in Depends: $item" ;; esac
  name=${item%% *}
  [ "$name" = libc6 ] && saw_libc=yes
  installed=$(dpkg-query -W -f '${Version}' "$name" 2>/dev/null) ||
    fail "Depends names $name, which no installed package is"
  if [ "$item" != "$name" ]; then
    relation=$(echo "$item" | sed -n 's/^[^ ]* *(\([<>=]*\) *\([^ )]*\))$/\1 \2/p')
    [ -n "$relation" ] || fail "cannot read the version in '$item'"
    set -- $relation
    case $1 in
      '>=') op=ge ;; '<=') op=le ;; '=') op=eq ;; '>>') op=gt ;; '<<') op=lt ;;
      *) fail "unknown relation in '$item'" ;;
    esac
    dpkg --compare-versions "$installed" "$op" "$2" ||
      fail "$name $installed does not satisfy '$item'"
  fi
done
[ "$saw_libc" = yes ] || fail "Depends does not name libc6: $depends"

# --- contents: the converter, its manual page and texts, nothing else -------------------------
dpkg-deb -x "$deb" "$work/root"
files=$(cd "$work/root" && find . -type f -o -type l | sort | tr '\n' ' ')
expected="./usr/bin/traxcon ./usr/share/doc/traxcon/CHANGELOG.md ./usr/share/doc/traxcon/README.md \
./usr/share/man/man1/traxcon.1.gz "
[ "$files" = "$expected" ] || fail "files in the package: $files"
bin=$work/root/usr/bin/traxcon
[ -x "$bin" ] || fail "usr/bin/traxcon is not executable"
kind=$(file -b "$bin")
case "$kind" in
  ELF*', stripped'*) ;;
  *) fail "usr/bin/traxcon: $kind" ;;
esac
page=$work/root/usr/share/man/man1/traxcon.1.gz
gzip -t "$page" || fail "the manual page is no gzip file"
gzip -dc "$page" | grep -q "^\.TH TRAXCON 1 .*\"traxcon $version\"" ||
  fail "the manual page does not name version $version"
cmp -s "$work/root/usr/share/doc/traxcon/CHANGELOG.md" "$source/CHANGELOG.md" ||
  fail "CHANGELOG.md differs from the source tree's"

# --- the converter --------------------------------------------------------------------------------
for word in --version /version; do
  out=$("$bin" "$word") || fail "traxcon $word: exit status $?"
  [ "$out" = "traxcon $version" ] || fail "traxcon $word printed '$out'"
done
"$bin" --version | cmp -s - <(printf 'traxcon %s\n' "$version") ||
  fail "traxcon --version is not exactly one line"

# The sample measurement as the end-to-end test converts it; its expected files hold the messages,
# the empty standard output and the first 16 lines of the ADF file (1901 value lines).
expected_dir=$source/tests/data/expected
mkdir "$work/run"
cp "$source/examples/measurement.dat" "$work/run/"
status=0
(cd "$work/run" && LC_ALL=C "$bin" measurement /trig =e >stdout 2>stderr) || status=$?
[ "$status" = 0 ] || fail "conversion: exit status $status; $(cat "$work/run/stderr")"
cmp "$work/run/stdout" "$expected_dir/example.out" || fail "standard output differs"
cmp "$work/run/stderr" "$expected_dir/example.err" || fail "standard error differs"
adf=$work/run/measurement.adf
head -n 16 "$adf" | cmp - "$expected_dir/example.adf" || fail "the ADF file's beginning differs"
values=$(grep -c '^ ' "$adf")
[ "$values" = 1901 ] || fail "$values value lines, not 1901"
others=$(grep -vc '^ ' "$adf")
heads=$(grep -vc '^ ' "$expected_dir/example.adf")
[ "$others" = "$heads" ] || fail "$others comment and header lines, not $heads"
grep -q '^#  *12  *1901$' "$adf" || fail "no header line of 12 columns and 1901 value lines"
echo "deb_test: traxcon $version from $(basename "$deb") converts the sample measurement"
