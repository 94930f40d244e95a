#include "common/Cp932.h"
#include "support/Beyond932.h"

#include <gtest/gtest.h>

using namespace corvidan::common;

TEST(Cp932, EncodesWindowsExtensionsAtTheirMicrosoftCodes)
{
    EXPECT_EQ(cp932::encode(u"①"), QByteArray("\x87\x40"));
    EXPECT_EQ(cp932::encode(u"㈱"), QByteArray("\x87\x8A"));
    EXPECT_EQ(cp932::encode(u"～"), QByteArray("\x81\x60"));
    EXPECT_EQ(cp932::encode(u"ｱ"), QByteArray("\xB1"));
    EXPECT_EQ(cp932::encode(u"\\"), QByteArray("\\"));
    // Control codes are themselves, as on Windows (the converter exchanges three of them).
    const QByteArray controls("\x1a\x1c\x7f\x1b", 4);
    EXPECT_EQ(cp932::encode(u"\x1a\x1c\x7f\x1b"), controls);
    EXPECT_EQ(cp932::encode(u"\x7f😀\x1a"), QByteArray("\x7f\x81\xac\x1a"));
    EXPECT_EQ(cp932::decode(controls), QStringLiteral("\x1a\x1c\x7f\x1b"));
    EXPECT_EQ(cp932::decode("\x82\xa0\x7f"), QStringLiteral("あ\x7f"));
}

TEST(Cp932, FoldsWaveDashAndFriendsInsteadOfReplacingThem)
{
    EXPECT_EQ(cp932::encode(u"〜"), QByteArray("\x81\x60"));
    int replaced = -1;
    EXPECT_EQ(cp932::encode(u"−", &replaced), cp932::encode(u"－"));
    EXPECT_EQ(replaced, 0);
}

TEST(Cp932, ReplacesWhatTheCodePageCannotHoldVisibly)
{
    int replaced = 0;
    const QByteArray bytes = cp932::encode(u"a😀b", &replaced);
    EXPECT_EQ(replaced, 1);
    EXPECT_EQ(cp932::decode(bytes), QStringLiteral("a〓b"));
}

TEST(Cp932, RoundTripsJapaneseText)
{
    const QString text = QStringLiteral("会議①㈱ⅱ～ｶﾀｶﾅ髙");
    EXPECT_EQ(cp932::decode(cp932::encode(text)), text);
}

TEST(Cp932, NamesEachCharacterItLacksOnceInOrder)
{
    for (const QString& c : corvidan::test::beyondCp932()) {
        EXPECT_EQ(cp932::lacking(QStringLiteral("漢") + c + QStringLiteral("ｶ") + c), QStringList{c})
            << c.toStdString();
        int replaced = 0;
        (void)cp932::encode(c, &replaced);
        EXPECT_EQ(replaced, 1) << c.toStdString();
    }
    EXPECT_EQ(cp932::lacking(corvidan::test::mixedBeyondCp932()), corvidan::test::beyondCp932());
    // Folded and Windows-extension characters are held; so is an empty text.
    EXPECT_TRUE(cp932::lacking(u"〜−①㈱ｱ髙\\").isEmpty());
    EXPECT_TRUE(cp932::lacking(u"").isEmpty());
}
