#!/usr/bin/env bash
# check_bash_completion.sh COMPLETION
# What the completion offers at typical points of a command line, through
# bash-completion's own helpers, the way an interactive shell calls it.
set -uo pipefail
completion=$1
# bash-completion's helpers are written for interactive shells; these are
# what such a shell has.
shopt -s extglob progcomp
COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'
export LC_ALL=C
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || exit 1
# shellcheck disable=SC1090
source "$completion" || exit 1
[[ $(complete -p quellora) == "complete -F _quellora quellora" ]] || exit 1

cd "$(mktemp -d)" || exit 1
trap 'rm -rf "$PWD"' EXIT
touch speech.flac speech.wav notes.txt
failed=0

# expect OFFERED LINE: pressing Tab at the end of "quellora LINE" offers
# OFFERED (sorted, space-separated). The line is split into words the way
# bash splits it, "=" being a word of its own.
expect() {
    local offered=$1 line=$2 got
    COMP_LINE="quellora $line"
    COMP_POINT=${#COMP_LINE}
    read -r -a COMP_WORDS <<<"${COMP_LINE//=/ = }"
    [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _quellora quellora "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | paste -sd ' ')
    if [[ $got != "$offered" ]]; then
        echo "quellora $line<Tab>: expected \"$offered\", got \"$got\""
        failed=1
    fi
}

expect "off on" "o"
expect "process" "pro"
expect "apps" "ap"
expect "direct" "di"
expect "level" "le"
expect "--help -h" "direct "
expect "--help -h" "level Firefox "
expect "--help --version" "--"
expect "--preset --preset-file --preset-name" "process --pre"
expect "night standard" "run --preset "
expect "standard" "run --preset=st"
expect "--verbose" "run --verb"
expect "speech.flac speech.wav" "process sp"
expect "speech.flac speech.wav" "process speech.flac --no-align s"
expect "notes.txt speech.flac speech.wav" "run --preset-file "
expect "" "process --block "
expect "" "run --threshold -"
expect "--help -h" "status "
expect "" "nonsense "
exit $failed
