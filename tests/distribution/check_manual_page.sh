#!/usr/bin/env bash
# check_manual_page.sh QUELLORA PAGE.1.gz
# The manual page renders without a word from man or groff, and says what the
# program's --help texts say: every command, and every option with its text.
set -euo pipefail
quellora=$1 page=$2
failed=0

# What lintian runs, and what it reports as manpage-has-errors-from-man.
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[[ -z $warnings ]] || { echo "man warns about $page:"; echo "$warnings"; exit 1; }

# Wide enough that no option's text is broken across lines.
text=$(LC_ALL=C.UTF-8 MANWIDTH=250 man -E ascii -l "$page" 2>/dev/null | col -b)
says() {
    grep -qF -- "$1" <<<"$text" || { echo "the manual page lacks \"$1\" ($2)"; failed=1; }
}

# Option lines of a help text: two spaces, the spelling, padding, the text.
check_options() {
    local spelling rest
    while IFS= read -r line; do
        spelling=$(sed -E 's/^  (([^ ]| [^ ])+).*$/\1/' <<<"$line")
        rest=$(sed -E 's/^  ([^ ]| [^ ])+ *//' <<<"$line")
        says "$spelling" "$1"
        says "$rest" "$1 $spelling"
    done < <(grep -E '^  -' <<<"$2")
}

usage=$("$quellora" --help)
check_options "quellora --help" "$usage"
commands=$(awk '/^commands:/ { on = 1; next } on && /^$/ { exit } on && /^  [a-z]/ { print $1 }' \
    <<<"$usage")
[[ -n $commands ]] || { echo "quellora --help lists no commands"; exit 1; }
for command in $commands; do
    help=$("$quellora" "$command" --help)
    says "$(head -n 1 <<<"$help" | sed 's/^usage: //')" "quellora $command --help"
    check_options "quellora $command --help" "$help"
done
exit $failed
