#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop gets:
# the program finds its tools through the bin/ link, the installed tools
# build and extract a help file and speak Russian, the manual pages and the
# documentation are there, the theme icons have their sizes, and the
# desktop file and metainfo pass their validators (when those are present).
# usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null
private="$prefix/lib/tomebox"

# The link is relative, and the program resolves it to its private folder.
[ "$(readlink "$prefix/bin/tomebox")" = ../lib/tomebox/tomebox ] || fail "bin/tomebox is not the relative link"
folder=$("$prefix/bin/tomebox" --version | sed -n 's/^.*css_dir: //p')
[ "$folder" = "$private/" ] || fail "the installed program looks for its tools in '$folder'"
for tool in hhc hh; do
  [ -x "$folder$tool" ] || fail "$tool is missing beside the program"
done
[ -f "$folder/about.htm" ] || fail "about.htm is missing beside the program"
ls "$folder"css_dir/*.css >/dev/null 2>&1 || fail "css_dir holds no style sheet"

# tomebox-cli is linked the same way, finds the same folder, and works
# without a display.
[ "$(readlink "$prefix/bin/tomebox-cli")" = ../lib/tomebox/tomebox-cli ] || fail "bin/tomebox-cli is not the relative link"
cli_folder=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/tomebox-cli" --version | sed -n 's/^.*css_dir: //p')
[ "$cli_folder" = "$private/" ] || fail "the installed tomebox-cli looks for its tools in '$cli_folder'"
mkdir -p "$work/pages"
printf '<html><head><title>Одна</title></head></html>' >"$work/pages/one.htm"
page=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/tomebox-cli" index "$work/pages" --style blue.css --copy-style) || fail "installed tomebox-cli index"
[ "$page" = "$work/pages/index_tbx.html" ] && cmp -s "$work/pages/blue.css" "$private/css_dir/blue.css" || fail "installed tomebox-cli index wrote '$page' without its style sheet"

# The installed tools work: a hand-written project in, the same page out.
mkdir -p "$work/site" "$work/out"
printf '<html><head><title>Проверка</title></head><body>Страница</body></html>' >"$work/site/index.htm"
printf '[OPTIONS]\r\nCompiled file=site.chm\r\nDefault topic=index.htm\r\n\r\n[FILES]\r\nindex.htm\r\n' >"$work/site/site.hhp"
if "$folder/hhc" "$work/site/site.hhp" >"$work/hhc.log" 2>&1; then
  "$folder/hh" -decompile "$work/out/" "$work/site/site.chm" >"$work/hh.log" 2>&1 || fail "installed hh: $(tail -1 "$work/hh.log")"
  cmp -s "$work/site/index.htm" "$work/out/index.htm" || fail "the page did not come back from the installed tools"
else
  fail "installed hhc: $(tail -1 "$work/hhc.log")"
fi
# hhc.exe is hhc under Microsoft's name and exit statuses: 1 when written.
[ "$(readlink "$folder/hhc.exe")" = hhc ] || fail "hhc.exe is not the relative link to hhc"
status=0
"$folder/hhc.exe" "$work/site/site.hhp" >/dev/null 2>&1 || status=$?
[ "$status" = 1 ] || fail "installed hhc.exe answered $status for a help file written"

# The installed programs find the installed catalogue, manual pages in both
# languages, and the documentation folder.
said=$(LANGUAGE=ru "$prefix/bin/tomebox-cli" build "$work/none.htm" 2>&1 || true)
grep -q 'не существует' <<<"$said" || fail "the installed tomebox-cli speaks no Russian: $said"
for program in tomebox tomebox-cli hhc hh; do
  for folder in man/man1 man/ru/man1; do
    [ -s "$prefix/share/$folder/$program.1.gz" ] || fail "no share/$folder/$program.1.gz"
  done
done
for file in README.md copyright; do
  [ -s "$prefix/share/doc/tomebox/$file" ] || fail "no share/doc/tomebox/$file"
done

# One PNG per size, of that size (width and height from the PNG header).
for side in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${side}x${side}/apps/org.example.tomebox.png"
  if [ -f "$png" ]; then
    size=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$size" = "${side}x${side}" ] || fail "$png is $size"
  else
    fail "no ${side}px icon"
  fi
done
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/org.example.tomebox.svg" || fail "no SVG icon"

desktop="$prefix/share/applications/org.example.tomebox.desktop"
metainfo="$prefix/share/metainfo/org.example.tomebox.metainfo.xml"
grep -qx 'Icon=org.example.tomebox' "$desktop" || fail "the desktop file names another icon"
grep -qx 'Exec=tomebox %f' "$desktop" || fail "the desktop file starts something else"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
  echo "desktop-file-validate not installed: desktop file not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
else
  echo "appstreamcli not installed: metainfo not validated"
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed layout, tools, icons and desktop files are right"
