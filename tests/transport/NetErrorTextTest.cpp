// The one table of texts for mail server failures.
#include "texts/NetErrorText.h"

#include <gtest/gtest.h>

using corvidan::transport::MailProtocol;
using corvidan::transport::NetError;
using corvidan::transport::NetErrorKind;
using corvidan::texts::NetErrorText;

namespace {

struct Case {
    NetErrorKind kind;
    MailProtocol protocol;
    /// Every one of these must appear in the text.
    std::initializer_list<const char16_t*> says;
};

NetError errorOf(const Case& c)
{
    NetError error;
    error.kind = c.kind;
    error.protocol = c.protocol;
    error.host = QStringLiteral("mail.example.jp");
    error.port = c.protocol == MailProtocol::Pop3 ? 110 : 25;
    error.certificateNames = {QStringLiteral("a.example.net"), QStringLiteral("b.example.net")};
    error.expiry = QStringLiteral("2026-01-31");
    return error;
}

} // namespace

TEST(NetErrorText, EveryKindSaysWhatHappenedAndWhatToTry)
{
    const Case cases[] = {
        {NetErrorKind::Refused, MailProtocol::Smtp, {u"SMTPサーバー「mail.example.jp」(ポート25)に接続できません。", u"拒否"}},
        {NetErrorKind::HostNotFound, MailProtocol::Pop3, {u"POP3サーバー「mail.example.jp」が見つかりません", u"つづり"}},
        {NetErrorKind::NoAnswer, MailProtocol::Pop3, {u"応答がなく、接続できませんでした", u"ポート番号"}},
        {NetErrorKind::Timeout, MailProtocol::Smtp, {u"タイムアウト"}},
        {NetErrorKind::PlainWhereTlsExpected, MailProtocol::Pop3, {u"暗号化なしで応答しました", u"STLS"}},
        {NetErrorKind::TlsWherePlainExpected, MailProtocol::Pop3, {u"最初から暗号化(TLS)", u"「pop3s://mail.example.jp」"}},
        {NetErrorKind::TlsWherePlainExpected, MailProtocol::Smtp, {u"「smtps://mail.example.jp」"}},
        {NetErrorKind::CertificateNameMismatch, MailProtocol::Smtp,
         {u"mail.example.jp", u"a.example.net、b.example.net", u"証明書"}},
        {NetErrorKind::CertificateExpired, MailProtocol::Pop3, {u"有効期限", u"2026-01-31", u"日付"}},
        {NetErrorKind::CertificateUntrusted, MailProtocol::Pop3, {u"信頼できる発行元", u"trusted-certificates.pem"}},
        {NetErrorKind::TlsUnavailable, MailProtocol::Pop3,
         {u"パスワードを送りませんでした", u"「pop3s://mail.example.jp」", u"「pop3+plain://mail.example.jp:110」"}},
        {NetErrorKind::TlsUnavailable, MailProtocol::Smtp, {u"STARTTLS", u"「smtp+plain://mail.example.jp:25」"}},
        {NetErrorKind::TlsDowngrade, MailProtocol::Smtp, {u"前回は暗号化できたサーバーが暗号化を拒否しました", u"別のネットワーク"}},
        {NetErrorKind::LoginRefused, MailProtocol::Pop3, {u"認証に失敗しました", u"ＩＤ，ＰＡＳＳ", u"アプリ パスワード"}},
        {NetErrorKind::LoginRequired, MailProtocol::Smtp, {u"認証を求めて", u"受信と同じアカウント"}},
    };
    for (const Case& c : cases) {
        const QString text = NetErrorText(errorOf(c));
        EXPECT_FALSE(text.contains(u'{')) << text.toStdString();
        EXPECT_FALSE(text.contains(u'\n')) << "no detail, one paragraph: " << text.toStdString();
        for (const char16_t* part : c.says)
            EXPECT_TRUE(text.contains(QString::fromUtf16(part))) << text.toStdString() << " lacks "
                                                                 << QString::fromUtf16(part).toStdString();
    }
}

TEST(NetErrorText, DetailAndServerReplyFollowOnLinesOfTheirOwn)
{
    NetError error = errorOf({NetErrorKind::LoginRefused, MailProtocol::Smtp, {}});
    error.serverReply = QStringLiteral("535 5.7.8 Authentication credentials invalid");
    error.detail = QStringLiteral("Login denied");
    const QStringList lines = NetErrorText(error).split(u'\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("SMTPサーバーでの認証に失敗しました。")));
    EXPECT_EQ(lines[1], QStringLiteral("サーバーの応答: 535 5.7.8 Authentication credentials invalid"));
    EXPECT_EQ(lines[2], QStringLiteral("詳細: Login denied"));

    // A failure of no known kind is shown as it came.
    error.kind = NetErrorKind::Other;
    error.detail = QStringLiteral("メッセージ 3 を取得できません: -ERR locked");
    EXPECT_EQ(NetErrorText(error), error.detail);
}
