#!/usr/bin/env bash
# Usage: LargeBatches.sh QUILLORY_EXTRACT (a program of that name)
# A folder of pages split into batches, by xargs -P and GNU parallel as the README shows, gives
# after `sort -s` on the file name exactly the rows of one run over the whole folder: no row lost,
# doubled or torn, and every file's rows in their own order. Skipped (77) without GNU parallel.
set -euo pipefail
PATH=$(dirname "$(realpath "$1")"):$PATH
if ! command -v parallel >/dev/null; then
    echo "GNU parallel is not installed"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
tab=$(printf '\t')
export LC_ALL=C

# 240 pages in nested folders. Their rows hold tabs, backslashes and line breaks, and their names
# a space, a tab, a line feed or a byte that is not UTF-8, all of which tsv keeps on one line.
mkdir -p "pages/one two" pages/deep/er/still pages/last
folders=(pages "pages/one two" pages/deep pages/deep/er/still pages/last)
for n in $(seq 1 240); do
    folder=${folders[n % ${#folders[@]}]}
    case $((n % 4)) in
        0) name="$(printf 'page \351 %s.html' "$n")" ;;
        1) name="page$tab$n.html" ;;
        2) name="$(printf 'page\n%s.html' "$n")" ;;
        *) name="page-$n.htm" ;;
    esac
    {
        printf '<title>page %s</title><p>first\\row %s</p>\n' "$n" "$n"
        printf '<pre>a\tb\nc\\d %s</pre>\n' "$n"
        for row in $(seq 1 $((n % 7))); do
            printf '<div><span>row %s of %s</span></div>\n' "$row" "$n"
        done
    } >"$folder/$name"
done

rows() {
    sort -s -t "$tab" -k1,1 "$@"
}

quillory-extract -j 1 -m 1 --format tsv pages | rows >whole.tsv

# The README's forms on this machine, in batches of 16 files.
mkdir batches
find pages -type f -print0 |
    xargs -0 -n 16 -P 2 sh -c 'quillory-extract -j 1 -m 1 --format tsv "$@" >"$(mktemp batches/XXXXXX)"' sh
rows <(cat batches/*) >xargs.tsv

find pages -type f -print0 |
    parallel -0 -X -n 16 -j 2 quillory-extract -j 1 -m 1 --format tsv |
    rows >parallel.tsv

find pages -type f -print0 |
    parallel --pipe --recend '\0' -N 16 -j 2 --sshlogin : quillory-extract -j 1 -m 1 --format tsv --files-from - -0 |
    rows >blocks.tsv

failed=0
files=$(cut -f1 whole.tsv | uniq | wc -l)
lines=$(wc -l <whole.tsv)
if [ "$files" -ne 240 ] || [ "$lines" -lt 1000 ]; then
    echo "one run over the folder gave $lines rows of $files files, not the rows of all 240"
    failed=1
fi
for batched in xargs.tsv parallel.tsv blocks.tsv; do
    if ! cmp -s whole.tsv "$batched"; then
        echo "$batched differs from one run over the folder:"
        diff whole.tsv "$batched" | head -20
        failed=1
    fi
done
exit $failed
