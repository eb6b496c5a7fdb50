#!/usr/bin/env bash
# Checks the release archive that the package target makes, made here by CPack from this build into
# a folder of its own: FileEncryption-<version>-win64.zip holds exactly the program (the same bytes
# as the build's), README.txt naming the version, and SHA256SUMS, whose sums match both files.
# Usage: package_test.sh CPACK BUILD-DIR EXE VERSION
set -euo pipefail
cpack=$1
build_dir=$2
exe=$(realpath "$3")
version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cpack" --config "$build_dir/CPackConfig.cmake" -B "$work/out" >/dev/null
mkdir "$work/release"
cd "$work/release"
cmake -E tar xf "$work/out/FileEncryption-$version-win64.zip"
[ "$(ls | tr '\n' ' ')" = "FileEncryption.exe README.txt SHA256SUMS " ]
cmp FileEncryption.exe "$exe"
[ "$(cut -d ' ' -f 3 SHA256SUMS | tr '\n' ' ')" = "FileEncryption.exe README.txt " ]
sha256sum --quiet --strict -c SHA256SUMS
grep -q "^File Encryption $version"$'\r'"\$" README.txt
echo "the archive holds the program, its README.txt and their sums"
