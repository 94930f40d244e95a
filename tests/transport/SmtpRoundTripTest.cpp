// A Japanese message with two attachments sent through the SMTP fixture into
// the Dovecot mailbox and read back through POP3 with the same library.
#include "support/Servers.h"
#include "texts/NetErrorText.h"
#include "transport/NMail.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using corvidan::test::Pop3TestServer;
using corvidan::test::readEnvFile;
using corvidan::test::serverStateDir;
using corvidan::transport::NMail;

namespace {

QString lastError(NMail& mail)
{
    QString text;
    int size = NMail::BufferSize;
    mail.NMailGetMessage(0, text, size);
    return text;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(SmtpRoundTrip, JapaneseMessageWithAttachmentsComesBackThroughPop3)
{
    const Pop3TestServer pop = Pop3TestServer::load();
    ASSERT_TRUE(pop.isValid()) << "the dovecot fixture is not running";
    const QHash<QString, QString> smtp = readEnvFile(serverStateDir() + QStringLiteral("/smtp.env"));
    ASSERT_FALSE(smtp.value(QStringLiteral("SMTP_PORT")).isEmpty()) << "the smtp fixture is not running";
    pop.clearMailbox();

    QTemporaryDir sources;
    QByteArray photo;
    for (int i = 0; i < 300000; ++i)
        photo += static_cast<char>(((i * 31) ^ (i >> 5)) & 0xFF);
    const QString nameA = QStringLiteral("議事録（第３回）.txt");
    const QString nameB = QStringLiteral("集合写真_忘年会.jpg");
    const QByteArray textBytes("\x8B\x63\x8E\x96\x98\x5E\r\n");
    const QString attachments = writeFile(sources, nameA, textBytes) + u',' + writeFile(sources, nameB, photo);

    const QString token = QString::number(QRandomGenerator::system()->generate(), 16);
    const QString subject = QStringLiteral("忘年会のご案内 ～ 第３回 ") + token;
    const QString body = QStringLiteral("皆様\r\n\r\n今年も忘年会を開きます。\r\n場所：駅前の「和食処」\r\n\r\n幹事より");
    const QString sender = QStringLiteral("kanji@example.jp");

    NMail mail;
    mail.options().describeError = corvidan::texts::NetErrorText;
    mail.NMailInitializeWinSock();
    mail.options().caFile = pop.caFile;
    mail.options().connectTimeoutMs = 5000;
    mail.options().readTimeoutMs = 10000;
    mail.setSmtpAccount(pop.user, pop.password);
    const QString to = QStringLiteral("コルビダン<%1@example.jp>").arg(pop.user);
    ASSERT_EQ(mail.NMailSmtpSendMail(QStringLiteral("127.0.0.1:") + smtp.value(QStringLiteral("SMTP_PORT")), to,
                                     QString(), QString(), sender, subject, body, QString(), attachments, 0),
              0)
        << lastError(mail).toStdString();

    const int handle = mail.NMailPop3Connect(pop.server(true));
    ASSERT_NE(handle, -1) << lastError(mail).toStdString();
    ASSERT_EQ(mail.NMailPop3Authenticate(handle, pop.user, pop.password, 0), 1) << lastError(mail).toStdString();

    QString gotSubject, date, from, header, raw;
    mail.NMailPop3GetMailStatus(handle, 1, gotSubject, date, from, header, 0);
    ASSERT_GT(mail.NMailPop3GetMailSize(handle, 1), 0);
    mail.NMailPop3GetMail(handle, 1, gotSubject, date, from, header, raw, 0, 0);
    EXPECT_EQ(gotSubject, subject);
    EXPECT_TRUE(from.contains(sender)) << from.toStdString();
    EXPECT_FALSE(date.isEmpty());
    EXPECT_TRUE(raw.contains(QStringLiteral("attachment")));

    QTemporaryDir folder;
    QString text = raw;
    const int extracted = mail.NMailAttachmentFileFirst(0, gotSubject, date, from, header, text,
                                                        folder.path() + QDir::separator(),
                                                        folder.filePath(QStringLiteral("0.txt")),
                                                        header + QStringLiteral("\r\n") + raw, 0);
    mail.NMailAttachmentFileClose(0);
    ASSERT_EQ(extracted, 1) << lastError(mail).toStdString();
    EXPECT_EQ(text.trimmed(), body.trimmed());
    EXPECT_EQ(readFile(folder.filePath(nameA)), textBytes);
    EXPECT_EQ(readFile(folder.filePath(nameB)), photo);

    mail.NMailPop3DeleteMail(handle, 1);
    mail.NMailPop3Close(handle);
    EXPECT_EQ(pop.messageCount(), 0);
}
