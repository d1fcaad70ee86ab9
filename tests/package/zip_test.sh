#!/bin/bash
# The Windows zip as a user gets it: one folder with traxcon.exe (a 64-bit console program that
# needs no DLL beyond Windows' own), the manual, README and CHANGELOG as texts with CR LF line
# ends; traxcon.exe run under Wine on the sample measurement gives the table and messages of the
# Debian package's converter (with CR LF line ends).
#   zip_test.sh <version> <package folder> <source folder> <Wine launcher>
set -euo pipefail
version=$1
packages=$2
source=$3
wine_run=$4
fail() {
  echo "zip_test: $*" >&2
  exit 1
}

zip=$packages/traxcon-$version-win64.zip
deb=$packages/traxcon_${version}_$(dpkg --print-architecture).deb
[ -f "$zip" ] || fail "no package $zip (make package)"
[ -f "$deb" ] || fail "no package $deb (make package)"
[ -x "$wine_run" ] || fail "no Wine launcher $wine_run (make windows)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- contents -----------------------------------------------------------------------------------
top=traxcon-$version-win64
listing=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
expected="$top/CHANGELOG.txt $top/README.txt $top/traxcon-manual.txt $top/traxcon.exe "
[ "$listing" = "$expected" ] || fail "files in the zip: $listing"
unzip -q "$zip" -d "$work/zip"
dir=$work/zip/$top
exe=$dir/traxcon.exe
kind=$(file -b "$exe")
case "$kind" in
  'PE32+ executable (console) x86-64'*) ;;
  *) fail "traxcon.exe: $kind" ;;
esac
# Linked statically: no DLL of the compiler's run-time libraries.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
[ -n "$dlls" ] || fail "traxcon.exe imports no DLL at all"
case "$dlls" in
  *libstdc++*|*libgcc*|*libwinpthread*) fail "traxcon.exe needs DLLs beside it: $dlls" ;;
esac

# Texts: every line ends with CR LF.
crlf_text() {
  local lines crlf
  lines=$(tr -cd '\n' <"$1" | wc -c)
  crlf=$(grep -c $'\r$' "$1" || true)
  [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] && ! tr -d '\r' <"$1" | grep -q $'\r'
}
for text in README.txt CHANGELOG.txt traxcon-manual.txt; do
  crlf_text "$dir/$text" || fail "$text has other than CR LF line ends"
done
tr -d '\r' <"$dir/CHANGELOG.txt" | cmp -s - "$source/CHANGELOG.md" ||
  fail "CHANGELOG.txt differs from CHANGELOG.md"
# The manual as plain text: no bold, underline or colour sequences, with its sections and version.
if grep -q $'[\b\e]' "$dir/traxcon-manual.txt"; then fail "the manual holds control sequences"; fi
for heading in NAME SYNOPSIS OPTIONS 'EXIT STATUS' DIAGNOSTICS; do
  grep -q "^$heading"$'\r$' "$dir/traxcon-manual.txt" || fail "the manual has no section $heading"
done
grep -q "traxcon $version" "$dir/traxcon-manual.txt" || fail "the manual does not name $version"

# --- traxcon.exe under Wine, against the Debian package's converter ----------------------------
out=$(cd "$work" && "$wine_run" "$exe" --version) || fail "traxcon.exe --version: status $?"
[ "$out" = "traxcon $version"$'\r' ] || fail "traxcon.exe --version printed '$out'"

dpkg-deb -x "$deb" "$work/root"
for run in linux windows; do
  mkdir "$work/$run"
  cp "$source/examples/measurement.dat" "$work/$run/"
done
status=0
(cd "$work/linux" && LC_ALL=C "$work/root/usr/bin/traxcon" measurement /trig =e >stdout 2>stderr) ||
  status=$?
[ "$status" = 0 ] || fail "Linux conversion: exit status $status"
(cd "$work/windows" && "$wine_run" "$exe" measurement /trig =e >stdout 2>stderr) || status=$?
[ "$status" = 0 ] || fail "Windows conversion: exit status $status; $(cat "$work/windows/stderr")"
for file in measurement.adf stdout stderr; do
  if [ -s "$work/windows/$file" ]; then
    crlf_text "$work/windows/$file" || fail "Windows $file has other than CR LF line ends"
  fi
  tr -d '\r' <"$work/windows/$file" | cmp - "$work/linux/$file" ||
    fail "Windows $file differs from the Linux one"
done
values=$(grep -c '^ ' "$work/linux/measurement.adf")
[ "$values" = 1901 ] || fail "$values value lines, not 1901"
echo "zip_test: traxcon.exe $version from $(basename "$zip") converts the sample as on Linux"
