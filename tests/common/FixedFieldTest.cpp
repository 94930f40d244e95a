#include "common/FixedField.h"

#include <gtest/gtest.h>

using namespace corvidan::common;

TEST(FixedField, PadsShortTextWithBlanks)
{
    EXPECT_EQ(fitField(u"ab", 5), QByteArray("ab   "));
    EXPECT_EQ(fitField(u"", 3), QByteArray("   "));
}

TEST(FixedField, CutsToWidthCharactersThenBytes)
{
    EXPECT_EQ(fitField(u"abcdefgh", 4), QByteArray("abcd"));
    // Three double-byte characters in five bytes: the third would straddle the end.
    EXPECT_EQ(fitField(u"あいう", 5), QByteArray("\x82\xA0\x82\xA2 "));
    EXPECT_EQ(fitField(u"aあいう", 4), QByteArray("a\x82\xA0 "));
}

TEST(FixedField, ReadStopsAtNulAndKeepsBlanks)
{
    const char raw[] = {'a', 'b', ' ', '\0', 'c', ' '};
    EXPECT_EQ(readField(raw, 6), QStringLiteral("ab "));
    EXPECT_EQ(CutAtNul(QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_EQ(CutAtNul(QString::fromUtf16(u"x\0y", 3)), QStringLiteral("x"));
}

TEST(FixedField, RoundsHalvesToEvenWithin16Bits)
{
    EXPECT_EQ(roundToInt16(2.5), std::int16_t(2));
    EXPECT_EQ(roundToInt16(3.5), std::int16_t(4));
    EXPECT_EQ(roundToInt16(1.4999), std::int16_t(1));
    EXPECT_EQ(roundToInt16(32767.4), std::int16_t(32767));
    EXPECT_FALSE(roundToInt16(32767.5).has_value());
    EXPECT_FALSE(roundToInt16(40000).has_value());
}

TEST(FixedField, LittleEndianFlag)
{
    char buf[2];
    writeInt16LE(buf, 1);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[1], 0);
    writeInt16LE(buf, -2);
    EXPECT_EQ(readInt16LE(buf), -2);
}
