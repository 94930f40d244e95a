#!/bin/sh
# Each forbidden arrow or core literal in Japanese, planted alone in a small
# tree, must make the check fail; the clean tree must pass. Usage: check-includes-catches.sh CHECK WORKDIR
set -u
check="$1"
work="$2"

plant() { # $1 file under src, $2 include line
    rm -rf "$work"
    for d in common storage transport texts cli ui shell settings history compose addressbook emoticons; do
        mkdir -p "$work/src/$d"
    done
    printf '#include "common/AppDir.h"\n' > "$work/src/storage/Ok.cpp"
    printf '#include "ui/Application.h"\n#include "compose/SendMail.h"\n' > "$work/src/addressbook/Ok.cpp"
    printf '#include "history/TyakuForm.h"\n' > "$work/src/shell/Ok.cpp"
    printf '#include "transport/NetError.h"\n' > "$work/src/texts/Ok.cpp"
    printf '#include "texts/ErrorText.h"\n#include "transport/ReceiveMail.h"\n' > "$work/src/cli/Ok.cpp"
    printf '#include "texts/NetErrorText.h"\n' > "$work/src/ui/Ok.cpp"
    # Japanese in core comments, in a data file's literals, and outside the core is fine.
    printf '// "受信を中止しました" is ReceiveCancelled\n/* 「添付」 */ auto s = "it'"'"'s // not a comment";\n' \
        > "$work/src/transport/Ok.cpp"
    printf 'inline constexpr char16_t F[] = u"\\\\添付フォルダ\\\\";\n' > "$work/src/common/AppDir.h"
    printf 'auto t = QStringLiteral("受信を中止しました");\n' >> "$work/src/texts/Ok.cpp"
    [ -n "$1" ] && printf '%s\n' "$2" > "$work/src/$1"
}

failed=0
plant "" ""
if ! sh "$check" "$work" >/dev/null; then
    echo "a clean tree was refused"; failed=1
fi
while IFS='|' read -r file line; do
    plant "$file" "$line"
    if sh "$check" "$work" >/dev/null; then
        echo "not caught: $line in src/$file"; failed=1
    fi
done <<'CASES'
storage/Bad.cpp|#include "history/TyakuForm.h"
transport/Bad.h|#include <QWidget>
transport/Bad.cpp|#include <QtWidgets/QLabel>
common/Bad.cpp|#include "ui/UiSeam.h"
storage/Bad.cpp|#include "transport/NMail.h"
ui/Bad.h|#include "shell/MainForm.h"
ui/Bad.cpp|#include "compose/WriteForm.h"
compose/Bad.cpp|#include "shell/Launch.h"
history/Bad.cpp|  #  include "addressbook/FriendForm.h"
emoticons/Bad.cpp|#include "compose/WriteForm.h"
transport/Bad.cpp|#include "texts/NetErrorText.h"
storage/Bad.h|#include "texts/ErrorText.h"
common/Bad.cpp|#include "cli/Console.h"
texts/Bad.cpp|#include "ui/Application.h"
texts/Bad.h|#include <QMessageBox>
texts/Bad.cpp|#include "history/TyakuForm.h"
cli/Bad.cpp|#include "shell/MainForm.h"
transport/Bad.cpp|return fail(QStringLiteral("受信を中止しました"));
storage/Bad.h|inline constexpr char16_t Text[] = u"ファイル";
common/Bad.cpp|const char16_t geta = u'〓';
transport/Bad.cpp|auto id = QStringLiteral("ＩＤ");
transport/Bad.cpp|auto r = uR"x(分割)x";
transport/Bad.cpp|/* "quoted" */ f("//", "保存");
storage/Bad.cpp|f("a\"b", "削除"); // a note
CASES
rm -rf "$work"
exit $failed
