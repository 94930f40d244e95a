#!/bin/sh
# What a user's machine gets: `scripts/install-deps --list run` names no server,
# test tool or fuzzing compiler; the .deb depends on runtime libraries only and
# recommends the Japanese desktop around it; the manual ships inside.
# usage: deb_package.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -eu
src=$1
build=$2
work=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

run=$(sh "$src/scripts/install-deps" --list run)
demo=$(sh "$src/scripts/install-deps" --list demo)
tests=$(sh "$src/scripts/install-deps" --list test)
[ -n "$run" ] || fail "--list run is empty"
for p in $run; do
    case $p in
        dovecot*|*aiosmtpd*|python3*|openssl|mpop|msmtp|clang*|libclang*|googletest|libgtest*|libgmock*|xvfb|xauth|xdotool|x11-utils|poppler-utils|git)
            fail "--list run names $p, which only the demo or the tests need" ;;
    esac
done
for p in dovecot-core dovecot-pop3d python3-aiosmtpd; do
    echo "$demo" | grep -qx "$p" || fail "--list demo lacks $p"
done
for p in dovecot-pop3d python3-aiosmtpd googletest libgtest-dev xvfb mpop msmtp clang; do
    echo "$tests" | grep -qx "$p" || fail "--list test lacks $p"
done
for p in $run; do
    echo "$tests" | grep -qx "$p" || fail "--list test lacks $p of the run path"
done
sh "$src/scripts/install-deps" --list nonsense >/dev/null 2>&1 && fail "an unknown path was accepted"

rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "Depends: $depends"
echo "Recommends: $recommends"
# One entry per comma; alternatives and versions stripped.
echo "$depends" | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/ //g' | while read -r p; do
    case $p in
        lib*) ;;
        *) fail "Depends names $p, which is no runtime library" ;;
    esac
done
for p in libssl3 libqt6widgets6 libgmime-3.0-0 libcurl4; do
    echo "$depends" | tr ',' '\n' | grep -q "^ *$p\b" || fail "Depends lacks $p"
done
for p in ca-certificates fonts-ipafont-gothic fonts-ipafont-mincho qt6-translations-l10n fcitx5 fcitx5-mozc fcitx5-frontend-qt6; do
    echo "$recommends" | tr ',' '\n' | grep -qx " *$p *" || fail "Recommends lacks $p"
done
dpkg-deb -c "$deb" >"$work/contents"
grep -q '\./usr/lib/corvidan/manual/index\.html$' "$work/contents" || fail "the manual is not in the package"
echo "deb package ok"
