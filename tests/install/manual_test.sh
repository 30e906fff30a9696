#!/usr/bin/env bash
# The manual pages the build writes: one in English and one in Russian for
# each program, each holding every option its --help names (tomebox-cli's
# commands included), in its own language.
# usage: manual_test.sh BIN_DIR MAN_DIR LOCALE_DIR
set -euo pipefail
bin=$1 man=$2
export LOCPATH=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The page as plain text: roff's escapes for a dash and for fonts undone.
plain() { zcat "$1" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\[,/]//g'; }
options() { grep -oE '(^|[][ ,|])--?[a-z][a-z-]*' | sed 's/^[][ ,|]//' | sort -u; }

for program in tomebox tomebox-cli hhc hh; do
  commands=()
  [ "$program" = tomebox-cli ] && commands=(build extract index)
  for language in en ru; do
    page=$man/$language/$program.1.gz
    locale=C.UTF-8 heading=NAME
    [ "$language" = ru ] && locale=ru_RU.UTF-8 heading=ИМЯ
    if [ ! -s "$page" ]; then
      fail "no $language manual page for $program"
      continue
    fi
    text=$(plain "$page")
    grep -q "^\.SH $heading\$" <<<"$text" || fail "$page has no section $heading"
    grep -q "^$program - " <<<"$text" || fail "$page does not name $program"
    help=$(LC_ALL=$locale LANGUAGE= "$bin/$program" --help)
    for command in "${commands[@]}"; do
      help+=$'\n'$(LC_ALL=$locale LANGUAGE= "$bin/$program" "$command" --help)
    done
    [ "$language" = en ] || grep -q 'Использование\|ОПИСАНИЕ' <<<"$text" || fail "$page is not in Russian"
    while read -r option; do
      grep -qF -- "$option" <<<"$text" || fail "$page lacks $option"
    done < <(options <<<"$help")
  done
done

[ "$failures" -eq 0 ] || exit 1
echo "every program has its manual pages, each with every option of its --help"
