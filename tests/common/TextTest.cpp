#include "common/Text.h"

#include <gtest/gtest.h>

using namespace corvidan::common::text;

namespace {

QString q(const char16_t* s) { return QString::fromUtf16(s); }

} // namespace

TEST(Text, TrimBlanksTakesOnlyAsciiSpacesFromTheEnds)
{
    const struct {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"  x y  ", u"x y"},
        {u"x", u"x"},
        {u"", u""},
        {u"    ", u""},
        {u"\tx\t", u"\tx\t"},
        {u"\r\n x \r\n", u"\r\n x \r\n"},
        {u"　全角　", u"　全角　"},
        {u" \u3000a\u3000 ", u"\u3000a\u3000"},
        {u" a  b ", u"a  b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trimBlanks(q(c.in)), q(c.out)) << QString::fromUtf16(c.in).toStdString();
    // A view into a longer text is trimmed within its own bounds.
    const QString whole = QStringLiteral("xx  ab  yy");
    EXPECT_EQ(trimBlanks(QStringView(whole).mid(2, 6)), QStringLiteral("ab"));
}

TEST(Text, ToCrLfWritesEveryLineEndAsCrLf)
{
    const struct {
        const char16_t* in;
        const char16_t* mail;
        const char16_t* withParagraphs;
    } cases[] = {
        {u"a\nb\r\nc\rd", u"a\r\nb\r\nc\r\nd", u"a\r\nb\r\nc\r\nd"},
        {u"\r\n\r\n", u"\r\n\r\n", u"\r\n\r\n"},
        {u"\n\r", u"\r\n\r\n", u"\r\n\r\n"},
        {u"\r\r\n", u"\r\n\r\n", u"\r\n\r\n"},
        {u"", u"", u""},
        {u"end\r", u"end\r\n", u"end\r\n"},
        // Only a text box's selection ends lines with the paragraph separator.
        {u"a\u2029b", u"a\u2029b", u"a\r\nb"},
        {u"a\u2028b", u"a\u2028b", u"a\u2028b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toCrLf(q(c.in)), q(c.mail)) << QString::fromUtf16(c.in).toStdString();
        EXPECT_EQ(toCrLf(q(c.in), LineEnds::WithParagraphSeparator), q(c.withParagraphs))
            << QString::fromUtf16(c.in).toStdString();
    }
}
