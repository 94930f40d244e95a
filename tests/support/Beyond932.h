#pragma once

#include <QString>
#include <QStringList>

namespace corvidan::test {

/// Characters users type that code page 932 cannot hold: the yen sign a Japanese
/// keyboard gives, the euro, a kanji outside JIS X 0208, an emoji, a card suit
/// and Hangul. Every writer of user text is run over this one table.
inline const QStringList& beyondCp932()
{
    static const QStringList characters{
        QStringLiteral("¥"), QStringLiteral("€"), QStringLiteral("𠮷"),
        QStringLiteral("😀"), QStringLiteral("♥"), QStringLiteral("한"),
    };
    return characters;
}

/// All of them in one text, with code page 932 text around them.
inline QString mixedBeyondCp932()
{
    return QStringLiteral("山田") + beyondCp932().join(u'a') + QStringLiteral("ｶﾅ");
}

} // namespace corvidan::test
