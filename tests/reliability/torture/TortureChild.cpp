// corvidan-torture-child MODE DIR [ARG]: the program's own write paths run in a
// loop, for the torture suite to kill at random instants.
//   viewer-delete        deletes, through the history viewer, every received
//                        record whose subject holds "[DEL", one by one
//   addressbook-delete   the same on the address book, through its file
//   append N             appends N received records "[APP-i]" as the receive
//                        does, printing "stored i" once each is on disk
//   palette N            opens and closes the emoticon palette N times
//   settings G           writes generation G, G+1, … of "zorbet.ini" and the
//                        account file, as the settings dialogs do
// Prints "done" and exits 0 when its work is finished.

#include "emoticons/KaoForm.h"
#include "history/TyakuForm.h"
#include "shell/Application.h"
#include "shell/Launch.h"
#include "storage/AddressBookFile.h"
#include "storage/HistoryFile.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"
#include "support/ScriptedUi.h"

#include <QAbstractItemModel>
#include <QPrinter>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <cstdio>

using namespace corvidan;

namespace {

int firstRowToDelete(const QAbstractItemModel& model)
{
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.index(row, 0).data().toString().contains(QStringLiteral("[DEL")))
            return row;
    return -1;
}

int viewerDelete(shell::Application& app)
{
    shell::openHistory(app, 1);
    auto* form = app.forms().find<history::TyakuForm>();
    auto* list = form->findChild<QTreeView*>(QStringLiteral("MailListView"));
    auto* button = form->findChild<QPushButton*>(QStringLiteral("Command3"));
    if (!list || !button)
        return 3;
    for (int row; (row = firstRowToDelete(*list->model())) >= 0;) {
        const QModelIndex index = list->model()->index(row, 0);
        list->scrollTo(index);
        const QRect rect = list->visualRect(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        const QString label = index.data().toString();
        QTest::mouseClick(button, Qt::LeftButton);
        // Another process may append meanwhile: the deleted row is gone, whatever came in.
        for (int other = 0; other < list->model()->rowCount(); ++other)
            if (list->model()->index(other, 0).data().toString() == label)
                return 4;
    }
    return 0;
}

int addressBookDelete(const common::AppDir& dir)
{
    storage::AddressBookFile book = storage::AddressBookFile::addressBook(dir);
    for (;;) {
        // Listed whatever the live flag, as the address book window lists them.
        int target = 0;
        (void)book.Enumerate([&](int n, const storage::AddressRecord& r) {
            if (r.Name.contains(QStringLiteral("[DEL")))
                target = n;
            return target == 0;
        });
        if (target == 0)
            return 0;
        if (!book.MarkDeleted(target) || !book.Compact())
            return 4;
    }
}

int appendRecords(const common::AppDir& dir, int count)
{
    storage::HistoryFile history(dir, storage::HistoryKind::Received);
    for (int i = 1; i <= count; ++i) {
        storage::MailRecord r;
        r.Subject = QStringLiteral("新着のお知らせ [APP-%1]").arg(i);
        r.Address = QStringLiteral("鈴木 <suzuki%1@example.jp>").arg(i);
        r.Date = QStringLiteral("Wed, 09 Dec 2026 10:00:%1 +0900").arg(i % 60, 2, 10, QChar(u'0'));
        r.Body = QStringLiteral("受信した本文です。[APP-%1]\r\n").arg(i).repeated(20 + i % 50);
        if (const common::Status st = history.AppendRecord(r); !st) {
            std::fprintf(stderr, "append %d: %s\n", i, st.detail().toUtf8().constData());
            return 4;
        }
        std::printf("stored %d\n", i);
        std::fflush(stdout);
    }
    return 0;
}

int palette(shell::Application& app, int closes)
{
    for (int i = 0; i < closes; ++i) {
        emoticons::KaoForm* form = app.forms().get<emoticons::KaoForm>();
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return 0;
}

int settings(const common::AppDir& dir, int first)
{
    for (int g = first; g < first + 100000; ++g) {
        storage::ServerSettings s;
        s.SmtpServer = QStringLiteral("smtp-%1.example.jp").arg(g);
        s.Pop3Server = QStringLiteral("pop-%1.example.jp").arg(g);
        s.MailAddress = QStringLiteral("太郎%1@example.jp").arg(g);
        s.ApopFlag = static_cast<std::int16_t>(g % 2);
        if (!storage::WriteServerSettings(dir.path(common::paths::ServerSettings), s))
            return 4;
        // The account dialog's order: NAME, NAME2, then NAME3.
        if (!storage::WriteAccountValue(dir, QStringLiteral("NAME"), QStringLiteral("id-%1").arg(g)) ||
            !storage::WriteAccountValue(dir, QStringLiteral("NAME2"), QStringLiteral("pw-%1").arg(g)) ||
            !storage::WriteAccountValue(dir, QStringLiteral("NAME3"), QStringLiteral("1")))
            return 4;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication qt(argc, argv);
    const QStringList args = qt.arguments();
    if (args.size() < 3)
        return 2;
    const QString mode = args[1];
    const common::AppDir dir(args[2]);
    const int number = args.value(3).toInt();
    // Every question answered Yes, every dialog cancelled; notices go to stderr.
    test::ScriptedUi ui;
    ui.setUnscriptedQuestionAnswer(ui::MsgAnswer::Yes);
    ui.setBrowserWorks(false);
    ui.onShown = [](const test::ScriptedUi::Shown& box) {
        if (!ui::isQuestion(box.buttons))
            std::fprintf(stderr, "box: %s\n", box.text.toUtf8().constData());
    };
    shell::Application app(dir, ui);
    int rc = 2;
    if (mode == QStringLiteral("viewer-delete"))
        rc = viewerDelete(app);
    else if (mode == QStringLiteral("addressbook-delete"))
        rc = addressBookDelete(dir);
    else if (mode == QStringLiteral("append"))
        rc = appendRecords(dir, number);
    else if (mode == QStringLiteral("palette"))
        rc = palette(app, number);
    else if (mode == QStringLiteral("settings"))
        rc = settings(dir, number);
    if (rc == 0)
        std::puts("done");
    return rc;
}
