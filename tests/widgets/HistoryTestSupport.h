#pragma once

#include "history/TyakuForm.h"
#include "shell/Application.h"
#include "shell/Launch.h"
#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "support/Controls.h"
#include "support/ScriptedUi.h"
#include "support/TempAppDir.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>

namespace corvidan::test {

inline storage::MailRecord mail(const QString& subject, const QString& address, const QString& date,
                                const QString& body)
{
    storage::MailRecord r;
    r.Subject = subject;
    r.Address = address;
    r.Date = date;
    r.Body = body;
    return r;
}

/// The viewer over a temporary AppDir, opened the way the launcher opens it.
class HistoryViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = std::make_unique<shell::Application>(dir.appDir(), ui);
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override
    {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    storage::HistoryKind kindOf(int kind) const
    {
        return kind == 2 ? storage::HistoryKind::Sent : storage::HistoryKind::Received;
    }
    storage::HistoryFile history(int kind) const { return storage::HistoryFile(dir.appDir(), kindOf(kind)); }

    void store(int kind, const std::vector<storage::MailRecord>& records)
    {
        storage::HistoryFile file = history(kind);
        for (const storage::MailRecord& r : records)
            ASSERT_TRUE(file.AppendRecord(r).isOk());
    }
    /// Records "subject k", "from k", "date k", "body k" for k = 1 … n.
    void storeNumbered(int kind, int n)
    {
        std::vector<storage::MailRecord> records;
        for (int k = 1; k <= n; ++k)
            records.push_back(mail(QStringLiteral("subject %1").arg(k), QStringLiteral("from %1").arg(k),
                                   QStringLiteral("date %1").arg(k), QStringLiteral("body %1").arg(k)));
        store(kind, records);
    }
    /// Appends `record` with `message` kept as its original, as a receive does.
    void storeWithOriginal(int kind, const storage::MailRecord& record, const QByteArray& message)
    {
        ASSERT_TRUE(storage::Originals(dir.appDir(), kindOf(kind)).Store(record.toBytes(), message).isOk());
        store(kind, {record});
    }
    QByteArray fileBytes(int kind) const
    {
        QFile f(history(kind).path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    history::TyakuForm* open(int kind)
    {
        shell::openHistory(*app, kind);
        form = app->forms().find<history::TyakuForm>();
        EXPECT_NE(form, nullptr);
        return form;
    }

    template <class T>
    T* ctl(const char* name) const
    {
        return control<T>(form, QString::fromLatin1(name));
    }
    QLineEdit* box(const char* name) const { return ctl<QLineEdit>(name); }
    QTextEdit* pane() const { return ctl<QTextEdit>("rtfEd"); }
    QTreeView* list() const { return ctl<QTreeView>("MailListView"); }
    QString paneText() const { return pane()->toPlainText(); }
    static QString clipboardText() { return QGuiApplication::clipboard()->text(); }

    /// A real mouse click on row `row` (0-based) of the list.
    void clickRow(int row)
    {
        QTreeView* view = list();
        const QRect rect = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void click(const char* button) { QTest::mouseClick(ctl<QPushButton>(button), Qt::LeftButton); }
    void trigger(const char* action) { ctl<QAction>(action)->trigger(); }
    /// A mouse move over `widget`, as the window's hover handling sees it.
    static void hover(QWidget* widget)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &move);
    }

    TempAppDir dir;
    ScriptedUi ui;
    std::unique_ptr<shell::Application> app;
    history::TyakuForm* form = nullptr;
};

} // namespace corvidan::test
