#include "storage/MailRecord.h"

#include "StorageTestUtil.h"
#include "common/Cp932.h"

#include <gtest/gtest.h>

using namespace corvidan;
using storage::MailRecord;

namespace {
QByteArray sjis(const QString& text)
{
    return common::cp932::encode(text);
}
} // namespace

TEST(MailRecord, PutsEveryFieldAtItsOffsetPaddedWithBlanks)
{
    MailRecord r;
    r.Subject = QStringLiteral("件名");
    r.Date = QStringLiteral("2026/12/08 09:30");
    r.Address = QStringLiteral("taro@example.jp");
    r.Body = QStringLiteral("一行目\r\n二行目");
    const QByteArray b = r.toBytes();
    ASSERT_EQ(b.size(), 32284);

    auto expectField = [&](int offset, int width, const QByteArray& text) {
        EXPECT_EQ(b.mid(offset, text.size()), text) << "field at " << offset;
        EXPECT_EQ(b.mid(offset + text.size(), width - text.size()),
                  QByteArray(width - text.size(), ' '))
            << "padding of field at " << offset;
    };
    expectField(0, 100, sjis(r.Subject));
    expectField(100, 90, QByteArray("2026/12/08 09:30"));
    expectField(190, 90, QByteArray("taro@example.jp"));
    expectField(280, 32000, sjis(r.Body));
    EXPECT_EQ(b.mid(32280, 2), QByteArray("\r\n"));
    EXPECT_EQ(b.mid(32282, 2), QByteArray("\x01\x00", 2));

    r.Live = 0;
    EXPECT_EQ(r.toBytes().mid(32282, 2), QByteArray("\x00\x00", 2));
}

TEST(MailRecord, CutsFieldsToCharactersThenWholeDoubleByteCharacters)
{
    MailRecord r;
    r.Subject = QString(60, QChar(u'漢'));
    r.Address = QString(120, QChar(u'a'));
    r.Date = QStringLiteral("a") + QString(50, QChar(u'日'));
    const QByteArray b = r.toBytes();
    EXPECT_EQ(b.mid(0, 100), sjis(QString(50, QChar(u'漢'))));
    EXPECT_EQ(b.mid(190, 90), QByteArray(90, 'a'));
    // "a" + 44 characters fill 89 bytes; the 45th would straddle the end and is dropped.
    EXPECT_EQ(b.mid(100, 90), sjis(QStringLiteral("a") + QString(44, QChar(u'日'))) + ' ');

    const MailRecord back = MailRecord::fromBytes(b.constData());
    EXPECT_EQ(back.Subject, QString(50, QChar(u'漢')));
    EXPECT_EQ(back.Address, QString(90, QChar(u'a')));
}

TEST(MailRecord, RoundTripsJapaneseIncludingVendorCharactersAndHalfWidthKana)
{
    MailRecord r;
    r.Subject = QStringLiteral("①㈱～ｶﾞｷﾞ 半角ｶﾅ");
    r.Date = QStringLiteral("Tue, 8 Dec 2026 10:00:00 +0900");
    r.Address = QStringLiteral("山田 <yamada@example.jp>");
    r.Body = QStringLiteral("こんにちは①\r\n㈱テスト～\r\nｱｲｳｴｵ\r\n");
    int replaced = -1;
    const QByteArray b = r.toBytes(&replaced);
    EXPECT_EQ(replaced, 0);
    const MailRecord back = MailRecord::fromBytes(b.constData());
    EXPECT_EQ(back.Subject.trimmed(), r.Subject);
    EXPECT_EQ(back.Date.trimmed(), r.Date);
    EXPECT_EQ(back.Address.trimmed(), r.Address);
    EXPECT_EQ(back.Body.trimmed(), r.Body.trimmed());
    EXPECT_EQ(back.Live, 1);

    const storage::MailHeader h = storage::MailHeader::fromBytes(b.constData());
    EXPECT_EQ(h.Subject, back.Subject);
    EXPECT_EQ(h.Date, back.Date);
    EXPECT_EQ(h.Address, back.Address);
}

TEST(MailRecord, ReadingStopsAtNulAndCountsLostCharacters)
{
    MailRecord r;
    r.Subject = QStringLiteral("😀 smile");
    int replaced = 0;
    QByteArray b = r.toBytes(&replaced);
    EXPECT_EQ(replaced, 1);
    b[2] = '\0';
    EXPECT_EQ(MailRecord::fromBytes(b.constData()).Subject, QStringLiteral("〓"));
}
