#!/usr/bin/env bash
# The Debian package of meterfix, as a user gets it: builds it with CPack from
# the build tree, checks its dependencies against the libraries the program
# needs, unpacks it into a scratch root with dpkg-deb -x and runs --version,
# --help and the example from there, checks the manual page (mandoc -Tlint;
# every option of --help in it) and the bash completion, and runs lintian.
# Usage: package_test.sh BUILD-DIR SOURCE-DIR [--no-lintian]. Exit 77: a tool
# is missing. --no-lintian is for sanitizer builds, whose package ships nowhere.
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
lint=1
if [ "${3:-}" = --no-lintian ]; then lint=0; fi

skip() { echo "package_test: SKIPPED: $*"; exit 77; }
fail() { echo "package_test: FAILED: $*"; exit 1; }
for tool in cpack dpkg-deb dpkg-shlibdeps help2man mandoc; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup installs it)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}
echo "package_test: built $(basename "$deb")"

# Every shared library the program needs comes from a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends)
binary=$build/cli/meterfix
while read -r library; do
  path=$(ldconfig -p | awk -v lib="$library" '$1 == lib && $NF ~ /^\// && !found { print $NF; found = 1 }')
  [ -n "$path" ] || fail "cannot find $library"
  owner=$(dpkg -S "$(realpath "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null || true)
  owner=${owner%%:*}
  [ -n "$owner" ] || fail "no package holds $path"
  tr ',|' '\n\n' <<<"$depends" | awk '{ print $1 }' | grep -qxF "$owner" ||
    fail "$library comes from $owner, which Depends does not name: $depends"
done < <(objdump -p "$binary" | awk '$1 == "NEEDED" { print $2 }')

root=$work/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/meterfix usr/share/man/man1/meterfix.1.gz \
            usr/share/bash-completion/completions/meterfix usr/share/doc/meterfix/copyright \
            usr/share/doc/meterfix/changelog.Debian.gz; do
  [ -f "$root/$file" ] || fail "the package has no /$file"
done
installed=$root/usr/bin/meterfix
[ -x "$installed" ] || fail "/usr/bin/meterfix is not executable"
if file "$installed" | grep -q 'not stripped'; then fail "/usr/bin/meterfix is not stripped"; fi

# The unpacked program answers as the one of the build tree does.
[ "$("$installed" --version)" = "$("$binary" --version)" ] || fail "--version differs"
"$installed" --help >"$work/help.txt" || fail "--help failed"
cmp -s "$work/help.txt" <("$binary" --help) || fail "--help differs from the build tree's"
example=$source/examples/mixed-meters.musicxml
(cd "$source" && "$installed" examples/mixed-meters.musicxml) >"$work/example.out" 2>&1 ||
  fail "the example failed: $(cat "$work/example.out")"
(cd "$source" && "$binary" examples/mixed-meters.musicxml) >"$work/expected.out" 2>&1
cmp -s "$work/example.out" "$work/expected.out" || fail "the example's report differs"
grep -q "4 of 8 measures changed" "$work/example.out" ||
  fail "the example's report lacks its summary: $(cat "$work/example.out")"
"$installed" -o "$work/fixed.musicxml" "$example" >/dev/null 2>&1 || fail "writing the example"
[ -s "$work/fixed.musicxml" ] || fail "no result written"

# The manual page: clean for mandoc, and naming every option --help lists.
gzip -dc "$root/usr/share/man/man1/meterfix.1.gz" >"$work/meterfix.1"
lint=$(mandoc -Tlint -Wwarning "$work/meterfix.1" 2>&1 || true)
[ -z "$lint" ] || fail "mandoc -Tlint: $lint"
mandoc -Tascii -Owidth=200 "$work/meterfix.1" | sed 's/.\x08//g' >"$work/meterfix.txt"
for section in SYNOPSIS DESCRIPTION OPTIONS SUBCOMMANDS "EXIT STATUS" FILES EXAMPLES; do
  grep -q "^$section" "$work/meterfix.txt" || fail "the manual page has no $section section"
done
while read -r option; do
  grep -qe "$option" "$work/meterfix.txt" || fail "the manual page does not name $option"
done < <(grep -oE -- '(^| |,)--[a-z][a-z-]+' "$work/help.txt" | grep -oE -- '--[a-z-]+' | sort -u)
for field in $(awk '/^Option fields/ { f = 1; next } f && /^  [A-Za-z]/ { print $1 }' "$work/help.txt"); do
  grep -qF "$field" "$work/meterfix.txt" || fail "the manual page does not name the field $field"
done
for action in "options show" "options set" "options reset" "presets list" "presets show" \
              "presets save" "presets delete"; do
  grep -q "meterfix $action" "$work/meterfix.txt" || fail "the manual page lacks 'meterfix $action'"
done

# The completion, as bash loads it, with the unpacked program on PATH.
completion=$(PATH="$root/usr/bin:$PATH" HOME="$work/home" bash --norc -c '
  source "$1"
  t() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=(); _meterfix
        echo "$*|${COMPREPLY[*]}"; }
  t meterfix --pres
  t meterfix --set useCom
  t meterfix --preset ""
  t meterfix presets ""
  t meterfix options ""
  t meterfix presets delete Cad' _ "$root/usr/share/bash-completion/completions/meterfix")
expect_completion() {
  grep -qxF "$1|$2" <<<"$completion" || fail "completing '$1' gave: $(grep -F "$1|" <<<"$completion")"
}
expect_completion "meterfix --pres" "--preset"
expect_completion "meterfix --set useCom" "useComposite="
expect_completion "meterfix --preset " 'Upbeats Complex\ Beating Cadenza Composite'
expect_completion "meterfix presets " "list show save delete"
expect_completion "meterfix options " "show set reset"
expect_completion "meterfix presets delete Cad" "Cadenza"

if ((!lint)); then
  echo "package_test: not linted (a sanitizer build)"
elif command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian found errors"; }
  grep -E '^[EW]:' "$work/lintian.log" || true
else
  echo "package_test: lintian is not installed; the package was not linted"
fi
echo "package_test: passed"
