#include "transport/SmtpClient.h"

#include <gtest/gtest.h>

using corvidan::transport::SmtpEndpoint;

namespace {

struct Case {
    const char16_t* text;
    const char* host;
    int port;
    bool implicitTls;
    bool requireStartTls;
};

} // namespace

TEST(SmtpEndpoint, ReadsEveryFormOfTheServerSetting)
{
    const Case cases[] = {
        {u"mail.example.jp", "mail.example.jp", 25, false, false},
        {u"  mail.example.jp  ", "mail.example.jp", 25, false, false},
        {u"mail.example.jp:587", "mail.example.jp", 587, false, true},
        {u"mail.example.jp:465", "mail.example.jp", 465, true, false},
        {u"smtp://mail.example.jp", "mail.example.jp", 25, false, false},
        {u"SMTP://mail.example.jp:2525/", "mail.example.jp", 2525, false, false},
        {u"smtps://mail.example.jp", "mail.example.jp", 465, true, false},
        {u"smtps://mail.example.jp:10465", "mail.example.jp", 10465, true, false},
        {u"[::1]:587", "::1", 587, false, true},
        {u"::1", "::1", 25, false, false},
        {u"127.0.0.1:2525", "127.0.0.1", 2525, false, false},
    };
    for (const Case& c : cases) {
        const auto endpoint = SmtpEndpoint::parse(QStringView(c.text));
        ASSERT_TRUE(endpoint.has_value()) << QString::fromUtf16(c.text).toStdString();
        EXPECT_EQ(endpoint->host, QString::fromLatin1(c.host));
        EXPECT_EQ(endpoint->port, c.port);
        EXPECT_EQ(endpoint->implicitTls, c.implicitTls);
        EXPECT_EQ(endpoint->requireStartTls, c.requireStartTls);
    }
}

TEST(SmtpEndpoint, RefusesWhatCannotBeAServer)
{
    for (const char16_t* text : {u"", u"   ", u"host:", u"host:0", u"host:70000", u"host:abc",
                                 u"smtp://", u"user@host", u"two words", u"[::1", u"[::1]x"}) {
        EXPECT_FALSE(SmtpEndpoint::parse(QStringView(text)).has_value()) << QString::fromUtf16(text).toStdString();
    }
}

TEST(SmtpEndpoint, UrlCarriesSchemePortAndEhloName)
{
    EXPECT_EQ(SmtpEndpoint::parse(u"mail.example.jp:465")->url("pc1"), "smtps://mail.example.jp:465/pc1");
    EXPECT_EQ(SmtpEndpoint::parse(u"mail.example.jp")->url("pc1"), "smtp://mail.example.jp:25/pc1");
    EXPECT_EQ(SmtpEndpoint::parse(u"[::1]:587")->url("pc1"), "smtp://[::1]:587/pc1");
}
