#!/bin/sh
# `cmake --install` gives a self-contained AppDir, the desktop entry and its
# icon; the installed starter lays out the user's own AppDir, runs the program
# there, and never touches the user's files when it runs again or after an
# upgrade.
# usage: install_layout.sh BUILD_DIR WORK_DIR
set -eu
build=$1
work=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
appdir=$prefix/lib/corvidan

# The installed AppDir: executables beside every delivered folder and file.
[ -x "$appdir/corvidan" ] || fail "no executable in $appdir"
[ -x "$appdir/corvidan-receive" ] || fail "no corvidan-receive in $appdir"
for folder in "★MAilData" "添付フォルダ" "背景画像" "新着画像" "顔文字データ" "■TextQuickSave"; do
    [ -d "$appdir/$folder" ] || fail "folder $folder missing"
done
for file in "背景画像/1.jpg" "新着画像/1.jpg" "顔文字データ/Kao1.txt"; do
    [ -s "$appdir/$file" ] || fail "$file missing"
done
i=1
while [ $i -le 11 ]; do
    [ -s "$appdir/顔文字データ/Text$i.txt" ] || fail "palette file Text$i.txt missing"
    i=$((i + 1))
done
# The manual the HomePage label opens: the README as HTML, with every picture
# it shows, and anchors for the README's own links.
manual=$appdir/manual/index.html
[ -s "$manual" ] || fail "no manual in $appdir"
grep -q 'make demo' "$manual" || fail "the manual lacks the README's text"
grep -q 'name="using-your-own-mail-account"' "$manual" || fail "the manual's headings have no anchors"
pictures=$(grep -o '<img src="[^"]*"' "$manual" | sed 's/^<img src="//; s/"$//')
[ -n "$pictures" ] || fail "the manual shows no pictures"
for picture in $pictures; do
    [ -s "$appdir/manual/$picture" ] || fail "the manual shows $picture, which is not installed"
done

# Nothing of anyone's mail or settings ships.
[ ! -e "$appdir/zorbet.ini" ] || fail "a settings file was installed"
[ -z "$(ls -A "$appdir/★MAilData")" ] || fail "★MAilData is not empty"

# Desktop entry: the program it names is on PATH, the icon it names is there.
desktop=$prefix/share/applications/corvidan.desktop
[ "$(head -n 1 "$desktop")" = "[Desktop Entry]" ] || fail "desktop entry has no group header"
grep -qx 'Type=Application' "$desktop" || fail "desktop entry: Type"
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
fi
exec_name=$(sed -n 's/^Exec=//p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
[ -x "$prefix/bin/$exec_name" ] || fail "Exec=$exec_name is not installed in bin"
[ -s "$prefix/share/icons/hicolor/scalable/apps/$icon_name.svg" ] || fail "no scalable icon"
for size in 16 24 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x$size/apps/$icon_name.png
    [ -s "$png" ] || fail "no ${size}px icon"
    # PNG signature, then IHDR width and height as the folder says.
    dims=$(od -An -tu1 -j16 -N8 "$png" | tr -s ' ' | sed 's/^ //')
    expected="0 0 $((size / 256)) $((size % 256)) 0 0 $((size / 256)) $((size % 256))"
    [ "$dims" = "$expected" ] || fail "${size}px icon is not ${size}x$size ($dims)"
done

# The starter, with a stand-in program that records where it was started.
cat >"$appdir/corvidan" <<'SH'
#!/bin/sh
pwd >started-in
SH
user=$work/home/Corvidan
CORVIDAN_APPDIR=$user sh "$prefix/bin/corvidan"
[ "$(cat "$user/started-in")" = "$user" ] || fail "the program did not run in the user's AppDir"
for folder in "★MAilData" "添付フォルダ" "背景画像" "新着画像" "顔文字データ" "■TextQuickSave"; do
    [ -d "$user/$folder" ] || fail "user AppDir lacks $folder"
done
cmp -s "$appdir/顔文字データ/Kao1.txt" "$user/顔文字データ/Kao1.txt" || fail "palette file not laid out"
cmp -s "$manual" "$user/manual/index.html" || fail "manual not laid out"

# The user's data survives the next start and an upgrade of the program; a
# delivered file the user lost comes back.
printf 'SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=me@example.jp\r\nAPOP=1\r\n' >"$user/zorbet.ini"
printf 'edited\r\n' >"$user/顔文字データ/Text1.txt"
printf 'history' >"$user/★MAilData/zrbdata2.data"
mv "$user/顔文字データ/Text2.txt" "$user/顔文字データ/text2.txt"
printf 'mine\r\n' >"$user/顔文字データ/text2.txt"
rm "$user/背景画像/1.jpg"
cat >"$appdir/corvidan" <<'SH'
#!/bin/sh
echo 2 >version
pwd >started-in
SH
printf '<p>version 2</p>\n' >>"$manual"
CORVIDAN_APPDIR=$user sh "$prefix/bin/corvidan"
[ "$(cat "$user/version" 2>/dev/null)" = 2 ] || fail "the upgraded program did not replace the old one"
cmp -s "$manual" "$user/manual/index.html" || fail "the upgrade did not replace the manual"
grep -q 'MAIL=me@example.jp' "$user/zorbet.ini" || fail "settings file overwritten"
[ "$(cat "$user/顔文字データ/Text1.txt")" = "$(printf 'edited\r')" ] || fail "edited palette file overwritten"
[ "$(cat "$user/★MAilData/zrbdata2.data")" = history ] || fail "history overwritten"
[ ! -e "$user/顔文字データ/Text2.txt" ] || fail "a palette file spelt in other letter case was doubled"
[ -s "$user/背景画像/1.jpg" ] || fail "a missing delivered picture did not come back"
echo "install layout ok"
