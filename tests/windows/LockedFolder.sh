#!/bin/bash
# Makes (lock) or removes (unlock) a folder holding target.txt that refuses new files even to root: the immutable
# attribute, which lets the file already there be written. Where the file system has no such attribute the folder
# stays open, and the test that uses it skips.
set -u
action=$1
folder=$2
if [ -d "$folder" ]; then
    chattr -i "$folder" 2>/dev/null
    rm -rf "$folder"
fi
[ "$action" = unlock ] && exit 0
mkdir -p "$folder"
printf 'old content\n' > "$folder/target.txt"
chattr +i "$folder" 2>/dev/null || echo "LockedFolder.sh: the folder cannot be locked here"
exit 0
