// The compose window against the real SMTP server of the `smtp` fixture: what
// arrives is decoded independently (GMime for the structure, ICU for charsets).
// GLib before Qt: Qt's "signals" keyword breaks GLib's headers.
#include <gmime/gmime.h>

#include "compose/SendMail.h"
#include "compose/WriteForm.h"
#include "shell/Application.h"
#include "storage/AddressBookFile.h"
#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "storage/ProfileFile.h"
#include "support/Controls.h"
#include "support/ScriptedUi.h"
#include "support/TempAppDir.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTcpServer>
#include <QUuid>
#include <cmath>
#include <gtest/gtest.h>

using namespace corvidan;
using compose::WriteForm;
using test::control;

namespace {

QHash<QString, QString> smtpEnv()
{
    QHash<QString, QString> env;
    QFile f(QStringLiteral(CORVIDAN_BUILD_DIR) + QStringLiteral("/test-servers/smtp.env"));
    if (!f.open(QIODevice::ReadOnly))
        return env;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            env.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return env;
}

QString decodeCharset(const QByteArray& bytes, QByteArray charset)
{
    charset = charset.toLower();
    if (charset == "shift_jis" || charset == "sjis" || charset == "x-sjis")
        charset = "windows-31j";
    QStringDecoder decoder(charset.constData());
    EXPECT_TRUE(decoder.isValid()) << charset.constData();
    return decoder.decode(bytes);
}

/// RFC 2047 words decoded; adjacent words of one charset are joined as bytes first.
QString decodeHeader(const QByteArray& raw)
{
    static const QRegularExpression word(QStringLiteral(R"(=\?([^?]+)\?([BbQq])\?([^?]*)\?=)"));
    const QString text = QString::fromLatin1(raw).simplified();
    QString out;
    QByteArray pending;
    QByteArray pendingCharset;
    qsizetype pos = 0;
    auto flush = [&] {
        if (!pending.isEmpty())
            out += decodeCharset(pending, pendingCharset);
        pending.clear();
    };
    auto it = word.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        const QString between = text.mid(pos, m.capturedStart() - pos);
        if (!between.trimmed().isEmpty() || pos == 0) {
            flush();
            out += between;
        }
        QByteArray charset = m.captured(1).toLatin1().split('*').first();
        QByteArray data = m.captured(3).toLatin1();
        QByteArray bytes;
        if (m.captured(2).compare(QStringLiteral("b"), Qt::CaseInsensitive) == 0) {
            bytes = QByteArray::fromBase64(data);
        } else {
            data.replace('_', ' ');
            bytes = QByteArray::fromPercentEncoding(data, '=');
        }
        if (charset.toLower() != pendingCharset.toLower())
            flush();
        pendingCharset = charset;
        pending += bytes;
        pos = m.capturedEnd();
    }
    flush();
    out += text.mid(pos);
    return out;
}

QByteArray partBytes(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    GMimeStream* stream = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, stream);
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    QByteArray bytes(reinterpret_cast<const char*>(array->data), static_cast<qsizetype>(array->len));
    g_object_unref(stream);
    return bytes;
}

struct Arrived {
    QString subject;
    QString from;
    QString body;
    QList<QPair<QString, QByteArray>> attachments;
    QStringList recipients;
    int connection = 0;
    bool tls = false;
    QString authUser;
    QByteArray raw; // as the server received it
};

Arrived decodeMessage(const QByteArray& eml)
{
    Arrived a;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(eml.constData(), eml.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    EXPECT_NE(message, nullptr);
    if (!message)
        return a;
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    if (GMimeHeader* h = g_mime_header_list_get_header(headers, "Subject"))
        a.subject = decodeHeader(QByteArray(g_mime_header_get_raw_value(h)));
    if (GMimeHeader* h = g_mime_header_list_get_header(headers, "From"))
        a.from = decodeHeader(QByteArray(g_mime_header_get_raw_value(h)));

    GMimePartIter* iter = g_mime_part_iter_new(GMIME_OBJECT(message));
    auto visit = [&](GMimeObject* object) {
        if (!GMIME_IS_PART(object))
            return;
        GMimePart* part = GMIME_PART(object);
        GMimeContentType* type = g_mime_object_get_content_type(object);
        const char* filename = g_mime_part_get_filename(part);
        if (filename || g_mime_part_is_attachment(part)) {
            const QByteArray raw(filename ? filename : "");
            a.attachments.append({raw.contains("=?") ? decodeHeader(raw) : QString::fromUtf8(raw),
                                  partBytes(part)});
        } else if (g_mime_content_type_is_type(type, "text", "plain") && a.body.isEmpty()) {
            const char* charset = g_mime_content_type_get_parameter(type, "charset");
            a.body = decodeCharset(partBytes(part), charset ? QByteArray(charset) : "us-ascii");
        }
    };
    if (g_mime_part_iter_is_valid(iter)) {
        do
            visit(g_mime_part_iter_get_current(iter));
        while (g_mime_part_iter_next(iter));
    } else {
        visit(g_mime_message_get_mime_part(message));
    }
    g_mime_part_iter_free(iter);
    g_object_unref(message);
    g_object_unref(parser);
    g_object_unref(stream);
    return a;
}

QString crlf(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

struct ComposeSmtp : ::testing::Test {
    static void SetUpTestSuite() { g_mime_init(); }

    QHash<QString, QString> env = smtpEnv();
    test::TempAppDir tmp;
    test::ScriptedUi ui;
    shell::Application app{tmp.appDir(), ui};
    QPointer<WriteForm> form;
    QString tag = QUuid::createUuid().toString(QUuid::Id128).left(12);

    void SetUp() override
    {
        ASSERT_FALSE(env.value(QStringLiteral("SMTP_PLAIN_PORT")).isEmpty())
            << "the smtp fixture did not run";
        app.state().server.SmtpServer =
            QStringLiteral("127.0.0.1:") + env.value(QStringLiteral("SMTP_PLAIN_PORT"));
        app.state().server.MailAddress = QStringLiteral("sender-%1@example.jp").arg(tag);
        form = app.forms().get<WriteForm>();
    }
    QString address(const QString& who) const
    {
        return QStringLiteral("%1-%2@example.jp").arg(who, tag);
    }
    template <class T>
    T* c(const char* name)
    {
        return control<T>(form, QString::fromLatin1(name));
    }
    /// Messages of this test, in the order the server accepted them.
    std::vector<Arrived> arrived() const
    {
        std::vector<Arrived> messages;
        QDir spool(env.value(QStringLiteral("SPOOL_DIR")));
        for (const QString& json : spool.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
            QFile meta(spool.filePath(json));
            if (!meta.open(QIODevice::ReadOnly))
                continue;
            const QJsonObject o = QJsonDocument::fromJson(meta.readAll()).object();
            QStringList rcpts;
            for (const QJsonValue& r : o.value(QStringLiteral("rcpt_tos")).toArray())
                rcpts << r.toString();
            if (!rcpts.join(u',').contains(tag))
                continue;
            QFile eml(spool.filePath(QString(json).replace(QStringLiteral(".json"), QStringLiteral(".eml"))));
            if (!eml.open(QIODevice::ReadOnly))
                continue;
            const QByteArray raw = eml.readAll();
            Arrived a = decodeMessage(raw);
            a.raw = raw;
            a.recipients = rcpts;
            a.connection = o.value(QStringLiteral("connection")).toInt();
            a.tls = o.value(QStringLiteral("tls")).toBool();
            a.authUser = o.value(QStringLiteral("auth_user")).toString();
            messages.push_back(a);
        }
        return messages;
    }
    std::vector<storage::MailRecord> records() const
    {
        std::vector<storage::MailRecord> all;
        (void)storage::HistoryFile(tmp.appDir(), storage::HistoryKind::Sent)
            .ReadAllRecords([&](int, const storage::MailRecord& r) {
                all.push_back(r);
                return true;
            });
        return all;
    }
    QString writeFile(const QString& name, const QByteArray& bytes) const
    {
        const QString path = tmp.root() + u'/' + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    void addToBook(const QString& name, const QString& addr)
    {
        storage::AddressRecord r;
        r.Name = name;
        r.Address = addr;
        ASSERT_TRUE(storage::AddressBookFile::addressBook(tmp.appDir()).AppendRecord(r));
    }
    void send()
    {
        c<QPushButton>("Command1")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

} // namespace

TEST_F(ComposeSmtp, SingleSendArrivesWithSubjectBodySenderAndTwoAttachments)
{
    QByteArray binary(3000, Qt::Uninitialized);
    for (char& b : binary)
        b = static_cast<char>(QRandomGenerator::global()->bounded(256));
    const QString first = writeFile(QStringLiteral("data.bin"), binary);
    const QByteArray textBytes = QByteArrayLiteral("line 1\r\nline 2\r\n");
    const QString second = writeFile(QStringLiteral("資料.txt"), textBytes);

    const QString subject = QStringLiteral("会議の資料について（第２回） and more");
    const QString body = QStringLiteral("山田様\nいつもお世話になっております。\n\n添付を２点お送りします。");
    c<QLineEdit>("ToText")->setText(address(QStringLiteral("to")));
    c<QLineEdit>("SubjectText")->setText(subject);
    c<QPlainTextEdit>("BodyText")->setPlainText(body);
    ui.queueFileName(first);
    c<QPushButton>("AttachCommand")->click();
    ui.queueFileName(second);
    c<QPushButton>("Command9")->click();
    send();

    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'|').toStdString();
    const auto messages = arrived();
    ASSERT_EQ(messages.size(), 1u);
    const Arrived& m = messages[0];
    EXPECT_EQ(m.recipients, QStringList{address(QStringLiteral("to"))});
    EXPECT_EQ(m.subject, subject);
    EXPECT_TRUE(m.from.contains(app.state().server.MailAddress)) << m.from.toStdString();
    EXPECT_EQ(crlf(m.body).trimmed(), body);
    ASSERT_EQ(m.attachments.size(), 2);
    EXPECT_EQ(m.attachments[0].first, QStringLiteral("data.bin"));
    EXPECT_EQ(m.attachments[0].second, binary);
    EXPECT_EQ(m.attachments[1].first, QStringLiteral("資料.txt"));
    EXPECT_EQ(m.attachments[1].second, textBytes);
    ASSERT_EQ(records().size(), 1u);
    EXPECT_TRUE(form.isNull());
    // The record's original is the message exactly as the server received it.
    const storage::HistoryFile sent(tmp.appDir(), storage::HistoryKind::Sent);
    EXPECT_EQ(QCryptographicHash::hash(sent.originals()->Load(*sent.ReadRecordBytes(1)).value_or(""),
                                       QCryptographicHash::Sha256),
              QCryptographicHash::hash(m.raw, QCryptographicHash::Sha256));
}

TEST_F(ComposeSmtp, BulkSendsToEachEntryInListOrderOverOneConnection)
{
    addToBook(QStringLiteral("一"), address(QStringLiteral("one")));
    addToBook(QStringLiteral("二"), address(QStringLiteral("two")) + QStringLiteral("   "));
    addToBook(QStringLiteral("三"), address(QStringLiteral("three")));
    c<QPushButton>("Command4")->click();
    c<QRadioButton>("Option2")->click();
    c<QLineEdit>("ToText")->setText(QStringLiteral(" 宛先欄の文字 "));
    c<QLineEdit>("SubjectText")->setText(QStringLiteral("一斉送信"));
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("皆様へ"));
    send();

    EXPECT_EQ(ui.shownTexts(), QStringList{QStringLiteral("3件送信しました。")});
    const auto messages = arrived();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].recipients, QStringList{address(QStringLiteral("one"))});
    EXPECT_EQ(messages[1].recipients, QStringList{address(QStringLiteral("two"))});
    EXPECT_EQ(messages[2].recipients, QStringList{address(QStringLiteral("three"))});
    EXPECT_EQ(messages[0].connection, messages[1].connection);
    EXPECT_EQ(messages[1].connection, messages[2].connection);
    const auto stored = records();
    ASSERT_EQ(stored.size(), 3u);
    for (const auto& r : stored)
        EXPECT_EQ(compose::trimBlanks(r.Address), QStringLiteral("宛先欄の文字"));
    // One original per pass, each exactly what its recipient's server received: the
    // records of one bulk send are alike when sent within one minute, so only the
    // first message of each distinct record is kept.
    const storage::HistoryFile sent(tmp.appDir(), storage::HistoryKind::Sent);
    const std::optional<QByteArray> first = sent.originals()->Load(*sent.ReadRecordBytes(1));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, messages[0].raw);
}

TEST_F(ComposeSmtp, FortuneTravelsWithTheMessageNotTheRecord)
{
    form->setFortuneDraw([] { return std::nextafter(1.0f, 0.0f); });
    c<QLineEdit>("ToText")->setText(address(QStringLiteral("fortune")));
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("abc"));
    c<QCheckBox>("Check1")->setChecked(true);
    send();
    const auto messages = arrived();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(crlf(messages[0].body).trimmed(),
              crlf(QStringLiteral("abc") + compose::fortune::block(12)).trimmed());
    ASSERT_EQ(records().size(), 1u);
    EXPECT_EQ(compose::trimBlanks(records()[0].Body), QStringLiteral("abc"));
}

TEST_F(ComposeSmtp, BulkFortuneAddsOneBlockPerPass)
{
    addToBook(QStringLiteral("一"), address(QStringLiteral("b1")));
    addToBook(QStringLiteral("二"), address(QStringLiteral("b2")));
    addToBook(QStringLiteral("三"), address(QStringLiteral("b3")));
    form->setFortuneDraw([] { return 0.0f; });
    c<QPushButton>("Command4")->click();
    c<QRadioButton>("Option2")->click();
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("本文"));
    c<QCheckBox>("Check1")->setChecked(true);
    send();
    const auto messages = arrived();
    ASSERT_EQ(messages.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i].body.count(compose::fortune::Header), i + 1) << "message " << i;
        EXPECT_EQ(messages[i].body.count(compose::fortune::Texts[1]), i + 1);
    }
    // Each pass writes its record from the body box before adding its own block:
    // record 1 has none, record 2 one, record 3 two.
    const auto stored = records();
    ASSERT_EQ(stored.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(stored[i].Body.startsWith(QStringLiteral("本文"))) << "record " << i + 1;
        EXPECT_EQ(stored[i].Body.count(compose::fortune::Header), i) << "record " << i + 1;
    }
}

TEST_F(ComposeSmtp, SendingLogsInWithThePopAccountOfTheAccountFile)
{
    // The port that offers STARTTLS and wants a login before MAIL.
    app.state().server.SmtpServer = QStringLiteral("127.0.0.1:") + env.value(QStringLiteral("SMTP_PORT"));
    app.mail().options().caFile = QStringLiteral(CORVIDAN_BUILD_DIR) + QStringLiteral("/test-servers/cert.pem");
    const QString user = env.value(QStringLiteral("SMTP_USER"));
    ASSERT_FALSE(user.isEmpty());
    ASSERT_TRUE(storage::WriteAccountValue(tmp.appDir(), QStringLiteral("NAME"), user));
    ASSERT_TRUE(storage::WriteAccountValue(tmp.appDir(), QStringLiteral("NAME2"),
                                           env.value(QStringLiteral("SMTP_PASSWORD"))));
    ASSERT_TRUE(app.state().PopUserId.isEmpty()) << "no receive ran before this send";
    c<QLineEdit>("ToText")->setText(address(QStringLiteral("login")));
    c<QLineEdit>("SubjectText")->setText(QStringLiteral("認証付きの送信"));
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("ログインしてから送ります。"));
    send();

    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'|').toStdString();
    const auto messages = arrived();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].tls);
    EXPECT_EQ(messages[0].authUser, user);
    EXPECT_EQ(messages[0].subject, QStringLiteral("認証付きの送信"));
    EXPECT_TRUE(form.isNull());
}

TEST_F(ComposeSmtp, AWrongPopPasswordIsRefusedWithTheServersReply)
{
    app.state().server.SmtpServer = QStringLiteral("127.0.0.1:") + env.value(QStringLiteral("SMTP_PORT"));
    app.mail().options().caFile = QStringLiteral(CORVIDAN_BUILD_DIR) + QStringLiteral("/test-servers/cert.pem");
    // What a receive or the account dialog left behind wins over the account file.
    app.state().PopUserId = env.value(QStringLiteral("SMTP_USER"));
    app.state().PopPassword = QStringLiteral("not-the-password");
    ASSERT_TRUE(storage::WriteAccountValue(tmp.appDir(), QStringLiteral("NAME"),
                                           env.value(QStringLiteral("SMTP_USER"))));
    ASSERT_TRUE(storage::WriteAccountValue(tmp.appDir(), QStringLiteral("NAME2"),
                                           env.value(QStringLiteral("SMTP_PASSWORD"))));
    c<QLineEdit>("ToText")->setText(address(QStringLiteral("refused")));
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("届かない"));
    send();

    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("送信エラー"));
    EXPECT_TRUE(ui.shown()[0].text.contains(QStringLiteral("535"))) << ui.shown()[0].text.toStdString();
    EXPECT_TRUE(arrived().empty());
    EXPECT_TRUE(records().empty());
    EXPECT_FALSE(form.isNull()) << "the refused message stays in its window";
}

TEST_F(ComposeSmtp, ServerDownShowsOneErrorAndTheMessageCanBeSentAgain)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    app.state().server.SmtpServer = QStringLiteral("127.0.0.1:%1").arg(closedPort);
    c<QLineEdit>("ToText")->setText(address(QStringLiteral("nobody")));
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("届かない"));
    send();
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("送信エラー"));
    EXPECT_FALSE(ui.shown()[0].text.isEmpty());
    EXPECT_TRUE(records().empty()) << "nothing that left no trace on a server looks sent";
    // The withdrawn record's original went with it.
    EXPECT_EQ(storage::Originals(tmp.appDir(), storage::HistoryKind::Sent).TotalBytes(), 0);
    ASSERT_FALSE(form.isNull());
    EXPECT_EQ(c<QLineEdit>("ToText")->text(), address(QStringLiteral("nobody")));
    EXPECT_TRUE(arrived().empty());

    // The server is right again: the same window sends the same message.
    app.state().server.SmtpServer = QStringLiteral("127.0.0.1:") + env.value(QStringLiteral("SMTP_PLAIN_PORT"));
    ui.clear();
    send();
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'|').toStdString();
    ASSERT_EQ(arrived().size(), 1u);
    EXPECT_EQ(records().size(), 1u);
    EXPECT_TRUE(form.isNull());
}
