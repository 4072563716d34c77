#!/usr/bin/env bash
# completion_test.sh SCRIPT TARNIK-CLI: the bash completion of tarnik-cli, sourced into this
# shell and asked as bash asks it (COMP_LINE, COMP_POINT, COMP_WORDS), in a folder with
# images, another file and a subfolder, the ports given by TARNIK_SERIAL_PORTS.
set -uo pipefail
script=$1 cli=$2
# shellcheck source=/dev/null
source "$script"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch a.bin b.BIN notes.txt
mkdir images
export TARNIK_SERIAL_PORTS=/dev/pts/7:/dev/ttyS3 XDG_CONFIG_HOME=$work/config
failed=0

# What completing the words after "tarnik-cli" offers, sorted, on one line.
offered() {
    COMP_LINE="$cli $1"
    COMP_POINT=${#COMP_LINE}
    COMP_WORDS=("$cli")
    COMP_CWORD=1
    COMPREPLY=()
    _tarnik_cli
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' '
}

check() { # words, expected offer, how bash breaks words
    local got
    COMP_WORDBREAKS=$3
    got=$(offered "$1")
    if [ "$got" = "$2" ]; then
        echo "ok: '$1' offers '$got'"
    else
        echo "FAILED: '$1' offers '$got', not '$2'"
        failed=1
    fi
}

breaks=$' \t\n"\'><=;|&(:' # bash's own
whole=$' \t\n"\'><;|&(:'   # '=' taken out of the word breaks
while IFS='|' read -r words expected how; do
    if [ "$how" = whole ]; then check "$words" "$expected" "$whole"; else check "$words" "$expected" "$breaks"; fi
done <<'ROWS'
|C= P= V=|
P=|a.bin b.BIN images/|
p=a|a.bin|
P=|P=a.bin P=b.BIN P=images/|whole
V=|0 1|
--port=|/dev/pts/7 /dev/ttyS3|
--port=/dev/t|--port=/dev/ttyS3|whole
C=|4|
--log=n|notes.txt|
--serial=||
--po|--port=|
--list|--list-ports|
ROWS

# Every option --help names is offered, '=' marking those that take a value.
options=$(offered "--" | tr ' ' '\n')
named=$("$cli" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
if [ "$(sed 's/=$//' <<<"$options" | sort -u)" = "$named" ] &&
    grep -qx -- '--serial-store=' <<<"$options" && grep -qx -- '--repeat' <<<"$options"; then
    echo "ok: '--' offers the $(wc -l <<<"$named") options of --help"
else
    echo "FAILED: '--' offers $(paste -sd' ' <<<"$options"); --help names $(paste -sd' ' <<<"$named")"
    failed=1
fi
exit $failed
