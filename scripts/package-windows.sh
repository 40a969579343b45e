#!/usr/bin/env bash
# Makes what a Windows user downloads, from the Windows build (scripts/build-windows.sh, which this runs first and
# which takes the same options), into build-windows-package/:
#   quillory-VERSION-win64.zip        a portable folder: the programs, the Qt, ICU and runtime DLLs, the platform
#                                     plugin and styles, Samples\; it runs from any folder
#   quillory-VERSION-win64-setup.exe  the installer (NSIS): per user or for all users, a Start-menu entry, "Open
#                                     with" for .html and .htm, an uninstaller; /S installs silently
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build-windows.sh" "$@"
build=${QUILLORY_WINDOWS_BUILD_DIR:-$root/build-windows}
out=$root/build-windows-package
version=$(sed -n 's/^project(Quillory VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name=quillory-$version-win64
stage=$out/$name

rm -rf "$out"
mkdir -p "$stage"
cp "$build/app/quillory.exe" "$build/app/quillory-worker.exe" "$build/cli/quillory-extract.exe" "$stage/"
# Every DLL and plugin the programs need was put beside them by the build.
cp "$build"/app/*.dll "$stage/"
cp -n "$build"/cli/*.dll "$stage/"
for plugins in platforms styles imageformats; do
    [ -d "$build/app/$plugins" ] && cp -r "$build/app/$plugins" "$stage/"
done
cp -r "$root/samples" "$stage/Samples"
cp "$build/app/quillory.ico" "$stage/"
cp "$root/packaging/copyright" "$stage/copyright.txt"

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")

# The uninstaller removes exactly what was installed: the files, then the folders, deepest first.
files=$out/stage-files.nsh
(
    cd "$stage"
    find . -type f | sed 's|^\./||; s|/|\\|g; s|.*|    Delete "$INSTDIR\\&"|'
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|    RMDir "$INSTDIR\\&"|'
) >"$files"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DSTAGE_FILES="$files" -DOUTFILE="$out/$name-setup.exe" \
    "$root/packaging/windows/quillory.nsi"
ls -l "$out/$name.zip" "$out/$name-setup.exe"
