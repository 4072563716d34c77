#!/usr/bin/env bash
# manual_page_test.sh PAGE PROGRAM ALL-PROGRAMS...: the manual page of PROGRAM (made from its
# --help and an include file) names every option --help names, names no option that none of
# the programs has (an example kept from an older version), and has a synopsis.
set -euo pipefail
page=$1 program=$2
shift 2
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

options_of_help() { "$1" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u; }
# roff writes a minus as \-; font changes (\fB) never split an option.
options_of_page() { sed 's/\\-/-/g' "$page" | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u; }

known=$(for p in "$@"; do options_of_help "$p"; done | sort -u)
missing=$(comm -23 <(options_of_help "$program") <(options_of_page))
unknown=$(comm -13 <(echo "$known") <(options_of_page))
failed=0
[ -z "$missing" ] || { echo "$page lacks: $missing"; failed=1; }
[ -z "$unknown" ] || { echo "$page names options no program has: $unknown"; failed=1; }
grep -q '^\.SH SYNOPSIS' "$page" || { echo "$page has no SYNOPSIS"; failed=1; }
[ $failed -eq 0 ] && echo "$page: $(options_of_page | wc -l) options, as --help"
exit $failed
