#include "transport/Pop3Session.h"
#include "transport/SmtpClient.h"

#include <gtest/gtest.h>

using corvidan::transport::Pop3Endpoint;
using corvidan::transport::SmtpEndpoint;

namespace {

struct Case {
    const char16_t* text;
    const char* host;
    int port;
    bool implicitTls;
    bool requireStartTls;
    bool plainAllowed = false;
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
        {u"smtp+plain://mail.example.jp", "mail.example.jp", 25, false, false, true},
        {u"SMTP+PLAIN://mail.example.jp:587", "mail.example.jp", 587, false, false, true},
        {u"smtp+plain://mail.example.jp:465", "mail.example.jp", 465, false, false, true},
    };
    for (const Case& c : cases) {
        const auto endpoint = SmtpEndpoint::parse(QStringView(c.text));
        ASSERT_TRUE(endpoint.has_value()) << QString::fromUtf16(c.text).toStdString();
        EXPECT_EQ(endpoint->host, QString::fromLatin1(c.host));
        EXPECT_EQ(endpoint->port, c.port);
        EXPECT_EQ(endpoint->implicitTls, c.implicitTls);
        EXPECT_EQ(endpoint->requireStartTls, c.requireStartTls);
        EXPECT_EQ(endpoint->plainAllowed, c.plainAllowed);
    }
}

TEST(Pop3Endpoint, ReadsEveryFormOfTheServerSetting)
{
    const Case cases[] = {
        {u"pop.example.jp", "pop.example.jp", 110, false, false},
        {u"pop.example.jp:110", "pop.example.jp", 110, false, false},
        {u"pop.example.jp:995", "pop.example.jp", 995, true, false},
        {u"pop3://pop.example.jp", "pop.example.jp", 110, false, false},
        {u"pop3://pop.example.jp:995", "pop.example.jp", 995, false, false},
        {u"pop3s://pop.example.jp", "pop.example.jp", 995, true, false},
        {u"POP3S://pop.example.jp:1995/", "pop.example.jp", 1995, true, false},
        {u"pop3+plain://pop.example.jp", "pop.example.jp", 110, false, false, true},
        {u"pop3+plain://127.0.0.1:2110", "127.0.0.1", 2110, false, false, true},
    };
    for (const Case& c : cases) {
        const auto endpoint = Pop3Endpoint::parse(QString::fromUtf16(c.text));
        ASSERT_TRUE(endpoint.has_value()) << QString::fromUtf16(c.text).toStdString();
        EXPECT_EQ(endpoint->host, QString::fromLatin1(c.host));
        EXPECT_EQ(endpoint->port, c.port);
        EXPECT_EQ(endpoint->implicitTls, c.implicitTls);
        EXPECT_EQ(endpoint->plainAllowed, c.plainAllowed);
    }
    for (const char16_t* text : {u"", u"pop3://", u"pop3+plain://", u"user@pop.example.jp", u"pop.example.jp/inbox"})
        EXPECT_FALSE(Pop3Endpoint::parse(QString::fromUtf16(text)).has_value()) << QString::fromUtf16(text).toStdString();
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
