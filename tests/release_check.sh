#!/usr/bin/env bash
# Checks the plug-in's release archive (scripts/release) as a user unpacks it:
# the files the user guide lists and nothing else, the checksums, the plug-in
# byte for byte the file the Windows tier ran (its SHA-256 taken before the
# run), stripped 32-bit, the guide page with its picture and without the
# markers of its checked examples, and the licence texts.
# Usage: release_check.sh ARCHIVE TESTED-SHA256 [SOURCE-DIR]
set -euo pipefail
archive=$(realpath "$1")
tested=$2
source=$(realpath "${3:-$(dirname "$0")/..}")

fail() { echo "release_check: FAILED: $*"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$archive" -d "$work" || fail "cannot unpack $archive"
top=("$work"/*)
[ ${#top[@]} = 1 ] && [ -d "${top[0]}" ] || fail "the archive must hold one folder"
dir=${top[0]}
name=$(basename "$archive" .zip)
[ "$(basename "$dir")" = "$name" ] || fail "its folder is $(basename "$dir"), expected $name"

expected="SHA256SUMS
examples/beam-groups.musicxml
kqmeterfix2000.fxt
licenses/GPL-3.txt
licenses/README.txt
licenses/gcc-runtime-libraries.txt
licenses/mingw-w64-runtime-and-winpthreads.txt
options-dialog.png
plugin-guide.html"
actual=$(cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the archive holds:
$actual
expected:
$expected"
# The guide's own table of the archive names every top-level entry.
for entry in kqmeterfix2000.fxt plugin-guide.html options-dialog.png \
             examples/beam-groups.musicxml licenses/ SHA256SUMS; do
  grep -qF "\`$entry\`" "$source/docs/plugin-guide.md" || fail "the guide does not list $entry"
done

# Checksums: every other file, each correct.
listed=$(awk '{ print $2 }' "$dir/SHA256SUMS" | LC_ALL=C sort)
[ "$listed" = "$(grep -vx SHA256SUMS <<<"$expected")" ] || fail "SHA256SUMS lists: $listed"
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "a checksum does not match"

# The plug-in: the very bytes the Windows tier ran.
fxt=$dir/kqmeterfix2000.fxt
[ "$(sha256sum "$fxt" | cut -d' ' -f1)" = "$tested" ] ||
  fail "kqmeterfix2000.fxt is not the file the Windows tier ran (sha256 $tested)"
file -b "$fxt" | grep -q '^PE32 executable (DLL).*Intel 80386' ||
  fail "kqmeterfix2000.fxt is not a 32-bit Windows DLL: $(file -b "$fxt")"
if command -v i686-w64-mingw32-nm >/dev/null && [ -n "$(i686-w64-mingw32-nm "$fxt" 2>/dev/null)" ]; then
  fail "kqmeterfix2000.fxt has a symbol table"
fi

# Its version resource (what Windows shows in the file's properties) names
# the release's version, as the archive's name does.
version=$(sed -n 's/^project(kqmeterfix VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
for key in FileVersion ProductVersion; do
  value=$(strings -el "$fxt" | awk -v key="$key" 'found { print; exit } $0 == key { found = 1 }')
  [ "$value" = "$version" ] || fail "the version resource's $key is '$value', expected $version"
done
[ "$name" = "kqmeterfix-$version-win32" ] || fail "the archive is named $name for version $version"

cmp -s "$dir/examples/beam-groups.musicxml" "$source/examples/guide/beam-groups.musicxml" ||
  fail "examples/beam-groups.musicxml differs from the guide's example score"
cmp -s "$dir/options-dialog.png" "$source/docs/options-dialog.png" ||
  fail "options-dialog.png differs from docs/options-dialog.png"

# The guide page: every heading of the guide, the picture, the tables, no markers.
page=$dir/plugin-guide.html
grep -q '<img src="options-dialog.png"' "$page" || fail "the guide page does not show options-dialog.png"
grep -q '<table>' "$page" || fail "the guide page has no tables"
if grep -q 'checked:' "$page"; then fail "the guide page shows the examples' markers"; fi
while read -r heading; do
  text=${heading#\#* }
  text=${text//&/&amp;}
  grep -qF ">$text</h" "$page" || fail "the guide page lacks the heading '$text'"
done < <(grep -E '^#{1,3} ' "$source/docs/plugin-guide.md" | sed -E 's/^#+ //; s/^/# /')

# Licence texts.
grep -q 'GCC RUNTIME LIBRARY EXCEPTION' "$dir/licenses/gcc-runtime-libraries.txt" ||
  fail "the GCC runtime's licence lacks its exception"
grep -q 'Version 3, 29 June 2007' "$dir/licenses/GPL-3.txt" || fail "GPL-3.txt is not the GPL 3"
grep -q 'winpthreads' "$dir/licenses/mingw-w64-runtime-and-winpthreads.txt" ||
  fail "the mingw-w64 licence text does not cover winpthreads"

echo "release_check: $(basename "$archive") holds the tested plug-in, the guide, the licences and checksums"
