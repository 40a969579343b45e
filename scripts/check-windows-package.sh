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

# The id of a window of the program titled $1 other than the main window, once one shows (up to 60 s).
await_window() {
    local id="" tries=0
    while [ -z "$id" ] && [ $tries -lt 600 ]; do
        id=$(xwininfo -root -tree | awk -v title="\"$1\":" -v main="$main" \
            '$2 == title && $3 == "(\"quillory.exe\"" && $1 != main { print $1; exit }')
        [ -n "$id" ] || sleep 0.1
        tries=$((tries + 1))
    done
    [ -n "$id" ] || { echo "window: no \"$1\" window came" >&2; return 1; }
    echo "$id"
}

# Waits until window $1 is gone.
await_gone() {
    local tries=0
    while xwininfo -id "$1" >/dev/null 2>&1 && [ $tries -lt 600 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
}

# A click at x y in the main window.
click() {
    xdotool mousemove --window "$main" "$1" "$2" click 1
    sleep 0.3
}

# Answers a message box with its default button.
confirm_box() {
    local box
    box=$(await_window Quillory) || return 1
    sleep 0.3
    xdotool key Return
    await_gone "$box"
}

# Saves through the save button at x y to the Windows path $3.
save_as() {
    local dialog
    click "$1" "$2"
    dialog=$(await_window Save) || return 1
    sleep 0.5
    xdotool type --delay 10 "$3"
    xdotool key Return
    await_gone "$dialog"
    sleep 0.5
}

# Drives the window of the copy in folder $1 as a user would: the samples loaded, each option run, both files saved
# and the rows copied to the clipboard, each compared with what the copy's quillory-extract.exe gives for the same
# files; then the window is closed and the clipboard must still hold the rows. The places clicked are the window's
# own layout (its twips at 96 dots per inch), which the window suite checks.
drive_window() {
    local folder=$1 public=$WINEPREFIX/drive_c/users/Public option
    # Another program of the session, as a Windows desktop always has: Wine's clipboard lives as long as its session.
    $wine notepad >/dev/null 2>&1 &
    local session=$!
    $wine "$folder/quillory.exe" >/dev/null 2>&1 &
    local window=$!
    main=""
    local tries=0
    until [ -n "$main" ] || [ $tries -ge 600 ]; do
        main=$(xwininfo -root -tree | awk '$2 == "\"Quillory\":" && $3 == "(\"quillory.exe\"" { print $1; exit }')
        [ -n "$main" ] || sleep 0.1
        tries=$((tries + 1))
    done
    [ -n "$main" ] || { echo "window: it did not come up"; status=1; return; }
    sleep 2
    # Load Sample/Example Files; "No" to opening the samples' folder.
    click 400 264
    local question
    question=$(await_window Quillory)
    sleep 0.3
    xdotool key Escape
    await_gone "$question"
    for option in 1 2 3 4; do
        # Clear the results, choose the option, start and confirm "Done.".
        click 400 662
        click 30 $((309 + (option - 1) * 23))
        click 268 419
        confirm_box
        save_as 136 628 "C:\\users\\Public\\window-$option.txt"
        save_as 400 628 "C:\\users\\Public\\window-$option-comma.txt"
        click 136 662
        confirm_box
        timeout 10 xclip -o -selection clipboard >"$public/clipboard-$option.txt" 2>/dev/null || true
        $wine "$folder/quillory-extract.exe" -m $option --save-text "C:\\users\\Public\\cli-$option.txt" "$folder/Samples"
        $wine "$folder/quillory-extract.exe" -m $option --save-csv "C:\\users\\Public\\cli-$option-comma.txt" \
            "$folder/Samples"
        # The clipboard as X shows it: UTF-8, lines ended by line feeds, each row without the spaces that end it.
        iconv -f WINDOWS-1252 -t UTF-8 "$public/cli-$option.txt" | sed 's/ *\r$//' >"$public/cli-$option-clipboard.txt"
        local verdict=""
        cmp -s "$public/window-$option.txt" "$public/cli-$option.txt" || verdict+=" text-file-differs"
        cmp -s "$public/window-$option-comma.txt" "$public/cli-$option-comma.txt" || verdict+=" comma-file-differs"
        cmp -s "$public/clipboard-$option.txt" "$public/cli-$option-clipboard.txt" || verdict+=" clipboard-differs"
        echo "window: option $option: $(wc -l <"$public/cli-$option.txt") rows;${verdict:- text file, comma file and clipboard as from the command line}"
        [ -z "$verdict" ] || status=1
    done
    # Closed as a user closes it (WM_CLOSE); the rows stay on the clipboard after the program has ended.
    $wine taskkill /im quillory.exe >/dev/null 2>&1 || true
    wait "$window" 2>/dev/null || true
    if timeout 10 xclip -o -selection clipboard 2>/dev/null | cmp -s - "$public/cli-4-clipboard.txt"; then
        echo "window: closed; the clipboard still holds its rows"
    else
        echo "window: closed; the clipboard lost its rows"
        status=1
    fi
    $wine taskkill /f /im notepad.exe >/dev/null 2>&1 || true
    wait "$session" 2>/dev/null || true
}

portable=$WINEPREFIX/drive_c/Users/Public/"Portable Quillory €漢"
mkdir -p "$portable"
(cd "$portable" && cmake -E tar xf "$zip")
try_copy portable "$(ls -d "$portable"/quillory-*-win64)"
drive_window "$(ls -d "$portable"/quillory-*-win64)"

$wine "$setup" /S
installed=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Local/Programs/Quillory
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
