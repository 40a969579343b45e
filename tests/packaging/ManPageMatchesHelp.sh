#!/usr/bin/env bash
# Usage: ManPageMatchesHelp.sh QUILLORY_EXTRACT MANUAL_PAGE
# The manual page documents exactly the options and exit statuses that `--help` prints: each
# option and each status of one must be an entry (.TP) of the other's list, in both directions.
set -euo pipefail
extract=$1
page=$2

help=$("$extract" --help)
# The page's text with the roff escapes that matter here undone: \- is a hyphen, \fX a font change.
plain=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")

# The heading line of every .TP entry in the named section of the page.
entries() {
    awk -v section="$1" '
        /^\.SH / { inside = ($0 == ".SH " section " " || $0 == ".SH " section); previous = ""; next }
        inside && previous == ".TP" { print }
        { previous = $0 }' <<<"$plain"
}

# Every option word (-x, --word-word) in the text read, one a line, sorted; a hyphen inside a word
# ("comma-delimited") is not an option.
options() {
    grep -oE '(^|[^A-Za-z0-9-])--?[a-z][a-z-]*' | sed -E 's/^[^-]//' | sort -u
}

helpOptions=$(options <<<"$help")
pageOptions=$(entries OPTIONS | options)
helpStatuses=$(sed -n '/^Exit status:/,$p' <<<"$help" | grep -oE '[0-9]+' | sort -u)
pageStatuses=$(entries "EXIT STATUS" | grep -oE '^\.[A-Z]+ [0-9]+' | grep -oE '[0-9]+' | sort -u)

failed=0
report() {
    local what=$1 missing
    missing=$(comm -23 <(printf '%s\n' "$2") <(printf '%s\n' "$3"))
    if [ -n "$missing" ]; then
        echo "$what:" $missing
        failed=1
    fi
}
if [ -z "$helpOptions" ] || [ -z "$helpStatuses" ]; then
    echo "no options or exit statuses found in the help of $extract"
    exit 1
fi
report "options in --help but not in the manual page's OPTIONS" "$helpOptions" "$pageOptions"
report "options in the manual page's OPTIONS but not in --help" "$pageOptions" "$helpOptions"
report "exit statuses in --help but not in the manual page's EXIT STATUS" "$helpStatuses" "$pageStatuses"
report "exit statuses in the manual page's EXIT STATUS but not in --help" "$pageStatuses" "$helpStatuses"
exit $failed
