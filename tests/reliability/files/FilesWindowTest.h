#pragma once

#include "BadFiles.h"
#include "addressbook/FriendForm.h"
#include "compose/SendMail.h"
#include "compose/WriteForm.h"
#include "shell/Application.h"
#include "shell/Launch.h"
#include "storage/AddressBookFile.h"
#include "support/Controls.h"
#include "support/RecordingSender.h"
#include "support/ScriptedUi.h"
#include "support/TempAppDir.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>

namespace corvidan::test {

/// The program's windows over a temporary AppDir, message boxes answered by the script.
class FilesWindowTest : public ::testing::Test {
protected:
    void SetUp() override { app = std::make_unique<shell::Application>(dir.appDir(), ui); }
    void TearDown() override
    {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    template <class T> static T* c(QWidget* form, const char* name)
    {
        return control<T>(form, QString::fromLatin1(name));
    }

    // The address book window.
    addressbook::FriendForm* openBook()
    {
        shell::showAddressBook(*app);
        return app->forms().find<addressbook::FriendForm>();
    }
    static QStringList bookRows(addressbook::FriendForm* form)
    {
        QStringList rows;
        auto* list = c<QTreeWidget>(form, "MailListView");
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows << list->topLevelItem(i)->text(0).trimmed();
        return rows;
    }
    static void registerEntry(addressbook::FriendForm* form, const QString& name,
                              const QString& address)
    {
        c<QLineEdit>(form, "Text2")->setText(name);
        c<QLineEdit>(form, "Text4")->setText(address);
        c<QPushButton>(form, "Command3")->click();
    }
    static void pressRow(addressbook::FriendForm* form, int row)
    {
        auto* list = c<QTreeWidget>(form, "MailListView");
        const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    }
    QString bookPath() const { return dir.path(common::paths::AddressBook); }
    static storage::AddressRecord entry(int i)
    {
        storage::AddressRecord r;
        r.Name = QStringLiteral("佐藤 %1").arg(i);
        r.Address = QStringLiteral("sato%1@example.jp").arg(i);
        return r;
    }

    /// Presses 送信 in the compose window with `to`, a subject and a body; the
    /// sender counts into `sent`. The window, or null once it closed.
    QPointer<compose::WriteForm> send(const QString& to, int& sent)
    {
        QPointer<compose::WriteForm> form = app->forms().get<compose::WriteForm>();
        sendLog.onSend = [&sent](const compose::OutgoingMail&) { ++sent; };
        form->setSenderFactory(RecordingSender::factory(sendLog));
        c<QLineEdit>(form, "ToText")->setText(to);
        c<QLineEdit>(form, "SubjectText")->setText(QStringLiteral("ご連絡"));
        c<QPlainTextEdit>(form, "BodyText")->setPlainText(QStringLiteral("明日の件です。"));
        c<QPushButton>(form, "Command1")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return form;
    }

    /// The one box shown since the script was last cleared, printed for the log;
    /// it must be Japanese and hold `reason`.
    void expectOneBox(const QString& reason)
    {
        ASSERT_EQ(ui.shown().size(), 1u)
            << ui.shownTexts().join(QStringLiteral(" | ")).toStdString();
        const QString text = ui.shown()[0].text;
        std::cout << "  [" << ui.shown()[0].title.toStdString() << "] " << text.toStdString()
                  << '\n';
        EXPECT_TRUE(text.contains(reason)) << text.toStdString();
        EXPECT_TRUE(badfiles::isJapanese(text));
    }

    TempAppDir dir;
    ScriptedUi ui;
    SendLog sendLog;
    std::unique_ptr<shell::Application> app;
};

} // namespace corvidan::test
