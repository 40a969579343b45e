#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it on this machine, tries what it
# installed, and removes it again, checking that it leaves no file behind. Needs root or sudo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
if ! command -v lintian >/dev/null; then
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends lintian
fi

deb=$("$root/scripts/package.sh" | tail -n 1)
echo "== lintian $deb"
# lintian's own status also counts warnings; only errors fail the check.
report=$(lintian --info --display-info "$deb" 2>&1 || true)
printf '%s\n' "$report"
if grep -q '^E:' <<<"$report"; then
    echo "check-package: lintian reports errors" >&2
    exit 1
fi

echo "== installing"
$sudo apt-get install -y -qq "$deb"
installed=$(dpkg -L quillory)

echo "== trying it"
quillory-extract --version
man -w quillory-extract
man -w quillory
# The window must start and keep running; `timeout` ending it after a few seconds is success.
status=0
xvfb-run -a timeout 4 quillory || status=$?
if [ $status -ne 124 ]; then
    echo "check-package: quillory ended by itself with status $status" >&2
    exit 1
fi

echo "== removing"
$sudo apt-get purge -y -qq quillory
left=0
while IFS= read -r path; do
    # A directory such as /usr/bin stays for the other packages that own it; dpkg removes the
    # others once empty, so one that stays and nothing owns still holds something of ours.
    if [ -d "$path" ] && ! dpkg -S "$path" >/dev/null 2>&1; then
        echo "left behind: $path/" >&2
        left=1
    elif [ -e "$path" ] && [ ! -d "$path" ]; then
        echo "left behind: $path" >&2
        left=1
    fi
done <<<"$installed"
if [ $left -ne 0 ]; then
    exit 1
fi
echo "check-package: all good"
