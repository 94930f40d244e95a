#include "ui/Widgets.h"

#include "common/Cp932.h"

namespace corvidan::ui {

void bringUp(QWidget* window)
{
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                    int width, int height)
{
    auto* b = make<QPushButton>(parent, name, left, top, width, height);
    b->setText(caption);
    return b;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width, int height)
{
    return button(parent, QString::fromLatin1(name), caption, left, top, width, height);
}

QLabel* label(QWidget* parent, const QString& name, const QString& caption, int left, int top,
              int width, int height)
{
    auto* l = make<QLabel>(parent, name, left, top, width, height);
    l->setText(caption);
    return l;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, int left, int top,
              int width, int height)
{
    return label(parent, QString::fromLatin1(name), caption, left, top, width, height);
}

namespace {

/// A character as the user can recognise it in a message box.
QString shownCharacter(const QString& character)
{
    const QList<uint> points = character.toUcs4();
    const char32_t point = points.isEmpty() ? 0 : points.front();
    switch (QChar::category(point)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
        return QStringLiteral("U+") +
               QString::number(static_cast<uint>(point), 16).toUpper().rightJustified(4, u'0');
    default:
        return character;
    }
}

} // namespace

QString unsavableCharactersMessage(QStringView text)
{
    constexpr qsizetype kNamed = 10;
    const QStringList missing = common::cp932::lacking(text);
    if (missing.isEmpty())
        return {};
    QString names;
    for (qsizetype i = 0; i < missing.size() && i < kNamed; ++i)
        names += u'「' + shownCharacter(missing[i]) + u'」';
    if (missing.size() > kNamed)
        names += QStringLiteral("など");
    return names + QStringLiteral("はファイルに保存できない文字です。\n"
                                  "別の文字に書き換えてから、もう一度お試しください。");
}

} // namespace corvidan::ui
