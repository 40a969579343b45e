#!/usr/bin/env bash
# Tries the two Windows packages under Wine as a user would, in a Wine prefix of its own: the portable zip unpacked
# into a folder whose name holds a space and characters outside the code page, then the installer run silently;
# each copy extracts the samples on the command line and starts the window (a screenshot under Xvfb), then the
# installed copy is uninstalled silently and what is left of it is listed. Run scripts/package-windows.sh first.
#   scripts/check-windows-package.sh [SCREENSHOT-FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-windows-package
shots=$(realpath -m "${1:-$out/screenshots}")
zip=$(ls "$out"/quillory-*-win64.zip)
setup=$(ls "$out"/quillory-*-win64-setup.exe)
export WINEPREFIX=$out/wine WINEDEBUG=-all
wine=/usr/lib/wine/wine64
# A Wine server left from an earlier try would go on writing into the prefix being removed.
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
rm -rf "$WINEPREFIX" "$shots"
mkdir -p "$shots"
# A display of its own, numbered by the server, before Wine starts: Wine's desktop takes the display it starts with.
exec 9< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -noreset 2>/dev/null)
xvfb=$!
read -r display <&9
export DISPLAY=:$display
$wine cmd /c exit >/dev/null 2>&1 || true
# Windows has Arial, the window's font; a Wine prefix has not. Liberation Sans has its metrics, as on Linux.
cp /usr/share/fonts/truetype/liberation/LiberationSans-*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
$wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d 'Liberation Sans' /f >/dev/null 2>&1
trap 'kill $xvfb 2>/dev/null || true' EXIT
status=0

# Extracts the samples with the copy's command line and shows its window for a screenshot.
try_copy() {
    local label=$1 folder=$2
    local rows
    rows=$($wine "$folder/quillory-extract.exe" -m 4 "$folder/Samples" 2>&1 | wc -l)
    echo "$label: quillory-extract.exe gave $rows rows from its Samples folder"
    [ "$rows" -gt 0 ] || status=1
    $wine "$folder/quillory.exe" >/dev/null 2>&1 &
    local window=$!
    local waited=0
    until xwininfo -root -tree | grep -q '"quillory.exe"' || [ $waited -ge 60 ]; do
        sleep 1
        waited=$((waited + 1))
    done
    # Time to paint.
    sleep 4
    import -window root "$shots/$label.png"
    if xwininfo -root -tree | grep -q '"quillory.exe"'; then
        echo "$label: the window came up in ${waited} s: $shots/$label.png"
    else
        echo "$label: no window after ${waited} s"
        status=1
    fi
    kill "$window" 2>/dev/null || true
    $wine taskkill /f /im quillory.exe >/dev/null 2>&1 || true
    wait "$window" 2>/dev/null || true
}

portable=$WINEPREFIX/drive_c/Users/Public/"Portable Quillory €漢"
mkdir -p "$portable"
(cd "$portable" && cmake -E tar xf "$zip")
try_copy portable "$(ls -d "$portable"/quillory-*-win64)"

$wine "$setup" /S
installed=$WINEPREFIX/drive_c/users/$USER/AppData/Local/Programs/Quillory
[ -d "$installed" ] || installed=$(dirname "$(find "$WINEPREFIX/drive_c" -name quillory-worker.exe -path '*Quillory*' -not -path '*Portable*' | head -n 1)")
echo "installed: ${installed#$WINEPREFIX/}"
find "$WINEPREFIX/drive_c" -iname 'Quillory.lnk' | sed "s|^$WINEPREFIX/|start menu: |"
try_copy installed "$installed"

$wine "$installed/uninstall.exe" /S
sleep 3
echo "left after uninstalling:"
left=$(find "$WINEPREFIX/drive_c" \( -iname '*quillory*' -o -iname '*quorvane*' \) -not -path '*Portable*' | sed "s|^$WINEPREFIX/|  |")
echo "${left:-  nothing}"
$wine reg query 'HKCU\Software\Quorvane' /s 2>/dev/null | sed 's/^/  registry: /' || true
exit $status
