#include "ui/Fonts.h"

#include <QApplication>
#include <QFont>

namespace corvidan::ui {

void installJapaneseFonts()
{
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    QFont::insertSubstitution(QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic"));
    QFont::insertSubstitution(QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"));
    QFont::insertSubstitution(QStringLiteral("MS Gothic"), QStringLiteral("IPAGothic"));
    QFont::insertSubstitution(QStringLiteral("Book Antiqua"), QStringLiteral("DejaVu Serif"));
    QFont base(QStringLiteral("IPAPGothic"));
    base.setPointSize(9);
    QApplication::setFont(base);
}

} // namespace corvidan::ui
