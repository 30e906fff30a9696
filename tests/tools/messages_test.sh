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

printf 'not a help file' >"$work/damaged.chm"
mkdir -p "$work/out"
expect C "hh: $work/damaged.chm: not a help file, or its header is damaged" \
  "$bin/hh" -decompile "$work/out" "$work/damaged.chm"
expect ru_RU.UTF-8 "hh: $work/damaged.chm: это не файл справки, или его заголовок повреждён" \
  "$bin/hh" -decompile "$work/out" "$work/damaged.chm"
expect C "hhc: no project given" "$bin/hhc"
expect ru_RU.UTF-8 "hhc: проект не указан" "$bin/hhc"
# The system's own words come in the locale's language too (libc-l10n).
expect ru_RU.UTF-8 "Нет такого файла или каталога" "$bin/hhc" "$work/none.hhp"

# A site with a link to a missing page, built by hhc directly and through
# tomebox-cli: hhc's lines for programs are the same in every language, and
# tomebox-cli puts them into the user's words.
mkdir -p "$work/site"
printf '<html><body><a href="missing.htm">x</a></body></html>' >"$work/site/index.htm"
printf '[OPTIONS]\r\nCompiled file=site.chm\r\nDefault topic=index.htm\r\n' >"$work/site/site.hhp"
lines=$(LC_ALL=ru_RU.UTF-8 "$bin/hhc" "$work/site/site.hhp" 2>/dev/null) || fail "hhc under ru_RU.UTF-8"
grep -qx 'not followed: "missing.htm" in "/index.htm": does not exist' <<<"$lines" ||
  fail "hhc's line for a link not followed changed under ru_RU.UTF-8: $lines"
grep -qE '^compiled: 1 files, [0-9]+ bytes in, [0-9]+ bytes out, [0-9]+\.[0-9]{2} s$' <<<"$lines" ||
  fail "hhc's summary changed under ru_RU.UTF-8: $lines"
build() { LC_ALL=$1 "$bin/tomebox-cli" build "$work/site/index.htm" --no-settings -o "$work/$1.chm" 2>&1 >/dev/null; }
said=$(build C)
grep -qx 'not followed: "missing.htm" on /index.htm: does not exist' <<<"$said" || fail "C build: $said"
grep -q '^compiled: 1 file, ' <<<"$said" || fail "C build: $said"
said=$(build ru_RU.UTF-8)
grep -qx 'не пройдена ссылка «missing.htm» на странице /index.htm: такого файла нет' <<<"$said" ||
  fail "ru_RU.UTF-8 build: $said"
grep -q '^файлов в справке: 1, ' <<<"$said" || fail "ru_RU.UTF-8 build: $said"

[ "$failures" -eq 0 ] || exit 1
echo "the programs speak English under C and Russian under ru_RU.UTF-8"
