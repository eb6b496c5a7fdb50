#!/usr/bin/env bash
# Checks what FileEncryption.exe is as a file: a 64-bit GUI-subsystem program that imports only
# DLLs of Windows itself (the C++ and threading runtimes linked in), carrying icon 1 with its
# 16, 32 and 48 pixel images, the manifest that asks for the common controls 6.0 and nothing else
# that changes behaviour, the version resource and the manifest with the project's version, and
# neither the build's time nor its folder: the header's and the resource directory's time stamps
# are 0 and the debug information does not name the build folder, so that two builds of one commit
# give the same bytes.
# Usage: executable_test.sh EXE VERSION (the project's major.minor.patch)
set -uo pipefail
exe=$1
version="${2//./\\.}\\.0"
headers=$(x86_64-w64-mingw32-objdump -p "$exe") || exit 1
resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc) || exit 1
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect NAME TEXT PATTERN: the extended regular expression must match a line of TEXT.
expect() {
    grep -Eq -- "$3" <<<"$2" || fail "$1"
}

expect "64-bit (PE32+)" "$headers" '^Magic[[:space:]]+020b'
expect "GUI subsystem" "$headers" '^Subsystem[[:space:]]+00000002'

allowed='^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|OLE32|MSVCRT|ADVAPI32|SHELL32|MSIMG32|UXTHEME)\.DLL$'
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '[:lower:]' '[:upper:]')
[ -n "$imports" ] || fail "no imported DLL found"
for dll in $imports; do
    grep -Eq "$allowed" <<<"$dll" || fail "imports $dll, which Windows does not ship"
done

expect "group icon 1" "$resources" '^1 14 /\* RT_GROUP_ICON \*/'
for size in 020 040 060; do
    expect "an icon image of $((8#$size)) pixels" "$resources" "\"\\\\$size\\\\$size\\\\000\\\\000\", 1, 32"
done
expect "manifest 1" "$resources" '^1 24 /\* RT_MANIFEST \*/'
expect "the common controls 6.0.0.0" "$resources" 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""'
expect "for amd64" "$resources" 'processorArchitecture=""amd64"" publicKeyToken'
grep -Eqi 'dpiAware|dpiAwareness|requestedExecutionLevel|supportedOS' <<<"$resources" &&
    fail "the manifest asks for more than the common controls"
expect "the description" "$resources" 'VALUE "FileDescription", "File Encryption"'
expect "the product name" "$resources" 'VALUE "ProductName", "File Encryption"'
expect "the file name" "$resources" 'VALUE "OriginalFilename", "FileEncryption.exe"'
expect "the file version" "$resources" "VALUE \"FileVersion\", \"$version\""
expect "the product version" "$resources" "VALUE \"ProductVersion\", \"$version\""
expect "the version in numbers" "$resources" "^ FILEVERSION ${2//./, }, 0\$"
expect "the manifest's version" "$resources" "version=\"\"$version\"\""

# The COFF header's TimeDateStamp, 4 bytes after the "PE\0\0" signature that the DOS header's
# e_lfanew (at 0x3C) points to.
pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
stamp=$(od -An -tu4 -j$((pe_offset + 8)) -N4 "$exe" | tr -d ' ')
[ "$stamp" = 0 ] || fail "the header's time stamp is $stamp, not 0"
resource_stamps=$(grep -Eo 'Time: [0-9a-f]+' <<<"$headers")
[ -n "$resource_stamps" ] || fail "no resource directory table found"
grep -v '^Time: 00000000$' <<<"$resource_stamps" && fail "a resource directory table carries a time"
build_dir=$(dirname "$(dirname "$(realpath "$exe")")")
grep -aqF "$build_dir" "$exe" && fail "names the build folder $build_dir"

[ $failures -eq 0 ] && echo "the executable is as built to be"
