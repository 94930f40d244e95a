#include "storage/FieldDecoder.h"

#include "common/Cp932.h"
#include "common/FixedField.h"

#include <gtest/gtest.h>
#include <random>

using corvidan::common::readField;
using corvidan::storage::detail::FieldDecoder;

TEST(FieldDecoder, AgreesWithTheConverterOnEveryTwoByteSequence)
{
    const FieldDecoder decoder;
    int mismatches = 0;
    for (unsigned first = 0; first < 256; ++first) {
        for (unsigned second = 0; second < 256; ++second) {
            // Alone, in the middle of a field, and cut by the field's end.
            const char alone[2] = {char(first), char(second)};
            const char middle[5] = {'a', char(first), char(second), 'b', ' '};
            const char cut[3] = {'x', char(second), char(first)};
            mismatches += decoder.field(alone, 2) != readField(alone, 2);
            mismatches += decoder.field(middle, 5) != readField(middle, 5);
            mismatches += decoder.field(cut, 3) != readField(cut, 3);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(FieldDecoder, AgreesWithTheConverterOnMixedFields)
{
    const QByteArray pieces[] = {corvidan::common::cp932::encode(QStringLiteral("①㈱～髙")),
                                 corvidan::common::cp932::encode(QStringLiteral("ｶﾞｷﾞｸﾞ")),
                                 QByteArray("user@example.jp"),
                                 QByteArray("\\~"),
                                 QByteArray(1, '\0'),
                                 QByteArray("\x81", 1),
                                 QByteArray("\xEF\x40", 2),
                                 QByteArray("\xFD\xA0\x80", 3)};
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    const FieldDecoder decoder;
    for (int round = 0; round < 5000; ++round) {
        QByteArray field;
        while (field.size() < 100)
            field += pieces[pick(rng)];
        field.truncate(100);
        ASSERT_EQ(decoder.field(field.constData(), 100), readField(field.constData(), 100))
            << field.toHex().toStdString();
    }
}
