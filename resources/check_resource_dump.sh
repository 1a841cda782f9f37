#!/usr/bin/env bash
# Dumps the resources of a built executable with windres and checks that it
# carries everything the program relies on. Usage: check_resource_dump.sh WINDRES EXE
set -u
windres="$1" exe="$2"
dump="$("$windres" -i "$exe" -O rc 2>&1)" || { echo "windres failed: $dump"; exit 1; }
fail=0
need() {
  if ! grep -qF -- "$1" <<<"$dump"; then
    echo "missing: $1"
    fail=1
  fi
}
need ' FILEVERSION 1, 1, 1, 10'
need ' PRODUCTVERSION 1, 1, 1, 10'
need ' FILEOS 0x4'
need ' FILETYPE 0x1'
need 'BLOCK "040904E4"'
need 'VALUE "Translation", 0x409, 1252'
need 'VALUE "ProductName", L"KTX-AV90R\x5236\x5fa1\x30bd\x30d5\x30c8"'
need 'VALUE "InternalName", "KTX-AV90R"'
need 'VALUE "FileDescription", L"KOVA KTX-AV90R\x5236\x5fa1\x30bd\x30d5\x30c8"'
need 'VALUE "FileVersion", "1.1.1.10"'
need 'VALUE "ProductVersion", "1.1.1.10"'
need 'VALUE "OriginalFilename", "KAV90R_HotKeyController.exe"'
need 'VALUE "Comments", "KCommonLib = Ver.0.0.2.43 / KCommonFormLib = Ver.0.0.0.23"'
need 'VALUE "CompanyName", "'
need 'VALUE "LegalCopyright", "'
# Message table: neutral language, message 1 = %1.
if ! grep -A3 -F '1 11 /* RT_MESSAGETABLE */' <<<"$dump" | grep -q . || ! grep -B3 -F '1 11 /* RT_MESSAGETABLE */' <<<"$dump" | grep -qF 'LANGUAGE 0, 0'; then
  echo "missing: neutral message table 1"
  fail=1
fi
need 'MessageId = 0x1'
need '%1\n\000'
need '1 24 /* RT_MANIFEST */'
need 'requestedExecutionLevel level=""asInvoker""'
need 'True/PM</dpiAware>'
need 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""'
need '100 14 /* RT_GROUP_ICON */'
need '101 14 /* RT_GROUP_ICON */'
need '102 14 /* RT_GROUP_ICON */'
[ "$fail" -eq 0 ] && echo "resources of $(basename "$exe"): ok"
exit "$fail"
