#!/usr/bin/env bash
# Builds the 32-bit plug-in library and checks the built file: PE32 for i386,
# the six exports, the host ordinals, system imports only, the resources, and
# mingw-w64's DLL start-up as the entry point (it calls DllEntryPoint).
# Usage: windows/check_product.sh PE_CHECK. Exits 77 (skipped) without mingw-w64.
set -euo pipefail
pe_check=$1
cd "$(dirname "$0")/.."

triple=i686-w64-mingw32
if ! command -v $triple-g++-posix >/dev/null || ! command -v $triple-objdump >/dev/null; then
  echo "SKIPPED: the mingw-w64 toolchain ($triple-g++-posix, binutils) is not installed;" \
       "scripts/setup installs it"
  exit 77
fi

status=0
mkdir -p build-win32
scripts/build-windows win32 >build-win32/check.log 2>&1 || status=$?
if ((status != 0)); then
  cat build-win32/check.log
  if ((status == 77)); then exit 77; fi
  echo "FAIL: the 32-bit build failed"
  exit 1
fi
fxt=build-win32/kqmeterfix2000.fxt              # the deliverable, stripped
symbols_fxt=build-win32/windows/kqmeterfix2000.fxt  # the same link with its symbols
host=$(sed -n 's/^KQ_HOST_EXECUTABLE:STRING=//p' build-win32/CMakeCache.txt)

"$pe_check" "$fxt" --machine i386 --host-module "$host"

# The check must bite: the same file is wrong for another machine or host.
for wrong in "--machine amd64 --host-module $host" "--machine i386 --host-module other.exe"; do
  # shellcheck disable=SC2086
  if "$pe_check" "$fxt" $wrong >/dev/null; then
    echo "FAIL: pe_check accepted the library with $wrong"
    exit 1
  fi
done

entry=$($triple-objdump -f "$fxt" | awk '/start address/ {print $3}')
entry_with_symbols=$($triple-objdump -f "$symbols_fxt" | awk '/start address/ {print $3}')
if [ "$entry" != "$entry_with_symbols" ]; then
  echo "FAIL: the stripped library differs from the linked one ($entry, $entry_with_symbols)"
  exit 1
fi
startup=$($triple-nm "$symbols_fxt" | awk '$3 == "_DllMainCRTStartup@12" {print $1}')
hook=$($triple-nm "$symbols_fxt" | awk '$3 == "_DllEntryPoint@12" {print $1}')
echo "entry point $entry; _DllMainCRTStartup@12 at ${startup:-?}; _DllEntryPoint@12 at ${hook:-?}"
if [ -z "$startup" ] || [ $((entry)) -ne $((16#$startup)) ]; then
  echo "FAIL: the entry point is not mingw-w64's DllMainCRTStartup"
  exit 1
fi
if [ -z "$hook" ]; then
  echo "FAIL: DllEntryPoint (stdcall, 12 bytes of arguments) is not in the library"
  exit 1
fi
# stdcall with the specified argument sizes: each export is the decorated
# symbol _Name@bytes that the compiler made for a WINAPI function.
symbols=$($triple-nm "$symbols_fxt")
for export in FinaleExtensionVersion@4 FinaleExtensionInit@8 FinaleExtensionEnumerate@12 \
              FinaleExtensionInvoke@16 FinaleExtensionTerminate@4 FinaleExtensionGetMenuStatus@4; do
  plain=${export%@*}
  decorated_at=$(awk -v s="_$export" '$3 == s {print $1}' <<<"$symbols")
  plain_at=$(awk -v s="_$plain" '$3 == s {print $1}' <<<"$symbols")
  if [ -z "$decorated_at" ] || [ "$decorated_at" != "$plain_at" ]; then
    echo "FAIL: $plain is not the stdcall function _$export"
    exit 1
  fi
done
echo "exports are stdcall with 4, 8, 12, 16, 4 and 4 bytes of arguments"
echo "check_product: the 32-bit plug-in library is as required"
