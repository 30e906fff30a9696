#!/usr/bin/env bash
# The command-line programs speak the user's language: English under the C
# locale, Russian under ru_RU.UTF-8 (made here with localedef when the
# machine has no such locale), while the lines they print for programs keep
# their English words and their "1.25" numbers.
# usage: messages_test.sh BIN_DIR
set -euo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
  localedef -i ru_RU -f UTF-8 "$work/ru_RU.UTF-8" || { echo "cannot make ru_RU.UTF-8"; exit 1; }
  export LOCPATH=$work
fi
unset LANGUAGE LC_ALL LC_MESSAGES LC_CTYPE

# expect LOCALE WANTED COMMAND...: the command's standard error (or, when it
# says nothing there, its output) holds WANTED.
expect() {
  local locale=$1 wanted=$2
  shift 2
  local said
  said=$(LC_ALL=$locale "$@" 2>&1 >/dev/null || true)
  [ -n "$said" ] || said=$(LC_ALL=$locale "$@" 2>/dev/null || true)
  grep -qF -- "$wanted" <<<"$said" || fail "$locale $*: wanted '$wanted', got: $(head -3 <<<"$said")"
}

expect C "tomebox-cli: $work/no.htm: the start page does not exist" "$bin/tomebox-cli" build "$work/no.htm"
expect ru_RU.UTF-8 "tomebox-cli: $work/no.htm: исходный HTM-файл не существует" "$bin/tomebox-cli" build "$work/no.htm"
expect C "More: tomebox-cli build --help" "$bin/tomebox-cli" build
expect ru_RU.UTF-8 "Подробнее: tomebox-cli build --help" "$bin/tomebox-cli" build
expect C "Usage: tomebox-cli index FOLDER" "$bin/tomebox-cli" index --help
expect ru_RU.UTF-8 "Пишет в FOLDER оглавление" "$bin/tomebox-cli" index --help
if [ -x "$bin/tomebox" ]; then
  expect C "Usage: tomebox [--decompile] [FILE]" "$bin/tomebox" --help
  expect ru_RU.UTF-8 "Использование: tomebox [--decompile] [ФАЙЛ]" "$bin/tomebox" --help
  expect ru_RU.UTF-8 "tomebox: неизвестный параметр --bogus" "$bin/tomebox" --bogus
fi

[ "$failures" -eq 0 ] || exit 1
echo "the programs speak English under C and Russian under ru_RU.UTF-8"
