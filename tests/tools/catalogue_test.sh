#!/usr/bin/env bash
# Every message the programs mark for translation has its Russian text in
# po/ru.po, and the catalogue compiles with its printf directives checked.
# usage: catalogue_test.sh SOURCE_DIR
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$src"
find src tools -name '*.cpp' -o -name '*.h' | sort >"$work/files"
xgettext --keyword=Tr --keyword=TrN:1,2 --keyword=N_ --language=C++ --from-code=UTF-8 \
  --files-from="$work/files" --output="$work/tomebox.pot"
for po in po/*.po; do
  msgfmt --check --output-file=/dev/null "$po"
  # An untranslated or fuzzy entry counts as missing.
  msgcmp "$po" "$work/tomebox.pot"
done
echo "every marked message is translated"
