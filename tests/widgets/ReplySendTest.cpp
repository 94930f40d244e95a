#include "compose/BackForm.h"
#include "shell/Application.h"
#include "storage/HistoryFile.h"
#include "support/Controls.h"
#include "support/ScriptedUi.h"
#include "support/Servers.h"
#include "support/TempAppDir.h"
#include "transport/SmtpTestMime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace corvidan;
using compose::BackForm;
using test::control;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(ReplySend, AReplyReachesTheRealServerAndLeavesTheSentHistoryAlone)
{
    const QHash<QString, QString> env = test::readEnvFile(test::serverStateDir() + QStringLiteral("/smtp.env"));
    ASSERT_FALSE(env.value(QStringLiteral("SMTP_PLAIN_PORT")).isEmpty()) << "the smtp fixture did not run";
    const QString spool = env.value(QStringLiteral("SPOOL_DIR"));

    test::TempAppDir dir;
    test::ScriptedUi ui;
    shell::Application app(dir.appDir(), ui);
    app.state().server.SmtpServer = QStringLiteral("127.0.0.1:") + env.value(QStringLiteral("SMTP_PLAIN_PORT"));
    app.state().server.MailAddress = QStringLiteral("me@example.jp");

    storage::HistoryFile sent(dir.appDir(), storage::HistoryKind::Sent);
    storage::MailRecord earlier;
    earlier.Subject = QStringLiteral("前の送信");
    earlier.Body = QStringLiteral("x");
    ASSERT_TRUE(sent.AppendRecord(earlier));
    const QByteArray sentBefore = readAll(sent.path());

    const QString marker = QStringLiteral("返信テスト%1").arg(QDateTime::currentMSecsSinceEpoch());
    const QStringList before = QDir(spool).entryList({QStringLiteral("*.eml")}, QDir::Files);
    BackForm* form = app.forms().get<BackForm>();
    form->show();
    form->FillReply(marker, QStringLiteral(" reply-to@example.jp "),
                    QStringLiteral("お世話になっております。\r\n了解しました。"));
    control<QPushButton>(form, QStringLiteral("Command2"))->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();
    EXPECT_EQ(app.forms().find<BackForm>(), nullptr);
    EXPECT_EQ(readAll(sent.path()), sentBefore);

    const QStringList after = QDir(spool).entryList({QStringLiteral("*.eml")}, QDir::Files);
    QString found;
    for (const QString& name : after) {
        if (before.contains(name))
            continue;
        const test::mimecheck::Message m = test::mimecheck::parse(readAll(spool + u'/' + name));
        if (test::mimecheck::decodeWords(m.header("Subject")) != QStringLiteral("Re:  ") + marker)
            continue;
        found = name;
        ASSERT_FALSE(m.parts.isEmpty());
        EXPECT_EQ(test::mimecheck::text(m.parts.first()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).trimmed(),
                  QStringLiteral("お世話になっております。\n了解しました。"));
        const QJsonObject meta =
            QJsonDocument::fromJson(readAll(spool + u'/' + QString(name).replace(QStringLiteral(".eml"), QStringLiteral(".json")))).object();
        EXPECT_EQ(meta.value(QStringLiteral("mail_from")).toString(), QStringLiteral("me@example.jp"));
        EXPECT_EQ(meta.value(QStringLiteral("rcpt_tos")).toArray().first().toString(), QStringLiteral("reply-to@example.jp"));
    }
    EXPECT_FALSE(found.isEmpty()) << "no spooled message with the reply's subject";
}
