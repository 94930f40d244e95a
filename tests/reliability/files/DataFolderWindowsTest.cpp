// The windows' writes when the data folder is missing, read-only or on a full
// disk: sending's sent record, the address book, the account and server
// settings, the viewer's deletion. Each says so in Japanese, once, and leaves
// every file as it was: nothing lost, nothing written half.

#include "FilesWindowTest.h"
#include "history/TyakuForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "storage/HistoryFile.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTreeView>

namespace corvidan::test {
namespace {

using badfiles::readFile;
using badfiles::writeFile;
using ui::MsgAnswer;

class DataFolderWindows : public FilesWindowTest {
protected:
    QString dataDir() const { return dir.path(common::paths::DataDir); }
    QString path(QStringView relative) const { return dir.path(relative); }

    /// Two received records, one sent, `entries` address book entries and the account.
    void populate(int entries = 2)
    {
        storage::HistoryFile received(dir.appDir(), storage::HistoryKind::Received);
        for (int i = 1; i <= 2; ++i)
            ASSERT_TRUE(received.AppendRecord(badfiles::numberedMail(QStringLiteral("DF"), i)));
        ASSERT_TRUE(storage::HistoryFile(dir.appDir(), storage::HistoryKind::Sent)
                        .AppendRecord(badfiles::numberedMail(QStringLiteral("SF"), 1)));
        auto book = storage::AddressBookFile::addressBook(dir.appDir());
        for (int i = 1; i <= entries; ++i)
            ASSERT_TRUE(book.AppendRecord(entry(i)));
        writeFile(path(common::paths::AccountFile), badfiles::accountFile());
        // The compose window creates its list file empty when it is missing.
        writeFile(path(common::paths::ComposeList), QByteArray());
    }

    void printBox(size_t i) const
    {
        std::cout << "  [" << ui.shown()[i].title.toStdString() << "] "
                  << ui.shown()[i].text.toStdString() << '\n';
    }

    /// Every file of the data folder, name and bytes.
    QMap<QString, QByteArray> snapshot() const
    {
        QMap<QString, QByteArray> files;
        for (const QString& name : QDir(dataDir()).entryList(QDir::Files | QDir::Hidden))
            if (name != QStringLiteral(".filler"))
                files[name] = readFile(dataDir() + u'/' + name);
        return files;
    }

    /// 送信 with the folder unwritable: one "送信エラー" box, nothing handed to the
    /// server, the window still open with the message in it.
    void expectSendRefused(const QString& reason)
    {
        int sent = 0;
        ui.clear();
        QPointer<compose::WriteForm> form = send(QStringLiteral("kato@example.jp"), sent);
        expectOneBox(reason);
        EXPECT_EQ(ui.shown()[0].title, QStringLiteral("送信エラー"));
        EXPECT_EQ(sent, 0) << "sent without a sent record";
        ASSERT_FALSE(form.isNull()) << "the unsent message was thrown away";
        EXPECT_EQ(c<QPlainTextEdit>(form, "BodyText")->toPlainText(),
                  QStringLiteral("明日の件です。"));
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void expectRegisterRefused(const QString& reason)
    {
        auto* form = openBook();
        const QStringList rows = bookRows(form);
        ui.clear();
        registerEntry(form, QStringLiteral("新規"), QStringLiteral("new@example.jp"));
        expectOneBox(reason);
        EXPECT_EQ(bookRows(form), rows);
    }

    /// The first entry: pressed, 削除, Yes.
    void expectDeleteRefused(const QString& reason)
    {
        auto* form = openBook();
        const QStringList rows = bookRows(form);
        ASSERT_FALSE(rows.isEmpty());
        pressRow(form, 0);
        ui.clear();
        ui.queueAnswer(MsgAnswer::Yes);
        c<QPushButton>(form, "Command4")->click();
        ASSERT_EQ(ui.shown().size(), 2u)
            << ui.shownTexts().join(QStringLiteral(" | ")).toStdString();
        printBox(1);
        EXPECT_TRUE(ui.shown()[1].text.contains(reason)) << ui.shown()[1].text.toStdString();
        EXPECT_NE(c<QLabel>(form, "Label7")->text(), QStringLiteral("削除が完了しました"));
        EXPECT_EQ(bookRows(form), rows);
    }

    void expectAccountSaveRefused()
    {
        auto* dialog = app->forms().get<settings::IdPassForm>();
        dialog->idText()->setText(QStringLiteral("jiro"));
        dialog->passText()->setText(QStringLiteral("新しい合言葉"));
        c<QCheckBox>(dialog, "Check1")->setChecked(true);
        ui.clear();
        c<QPushButton>(dialog, "OKCommand")->click();
        expectOneBox(QStringLiteral("ID・パスワードを保存できませんでした"));
        // Receiving in this run still uses what was typed.
        EXPECT_EQ(app->state().PopUserId, QStringLiteral("jiro"));
    }

    /// Row 1 of the received history: clicked, 一件削除, Yes.
    void expectHistoryDeletionRefused(const QString& reason)
    {
        shell::openHistory(*app, 1);
        auto* viewer = app->forms().find<history::TyakuForm>();
        auto* list = c<QTreeView>(viewer, "MailListView");
        ASSERT_EQ(list->model()->rowCount(), 2);
        const QRect rect = list->visualRect(list->model()->index(0, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        ui.clear();
        ui.queueAnswer(MsgAnswer::Yes);
        c<QPushButton>(viewer, "Command3")->click();
        ASSERT_EQ(ui.shown().size(), 2u)
            << ui.shownTexts().join(QStringLiteral(" | ")).toStdString();
        printBox(1);
        EXPECT_TRUE(ui.shown()[1].text.contains(reason)) << ui.shown()[1].text.toStdString();
        EXPECT_TRUE(ui.shown()[1].text.contains(QStringLiteral("メールは削除されていません")));
        EXPECT_EQ(list->model()->rowCount(), 2);
    }
};

TEST_F(DataFolderWindows, AMissingDataFolderIsReportedByEveryWrite)
{
    ASSERT_TRUE(QDir(dataDir()).removeRecursively());
    expectSendRefused(QStringLiteral("送信履歴に記録できません"));

    ui.clear();
    auto* form = openBook();
    expectOneBox(QStringLiteral("アドレス帳"));
    EXPECT_EQ(bookRows(form), QStringList());
    expectRegisterRefused(QStringLiteral("アドレス帳"));
    expectAccountSaveRefused();

    // The viewer has nothing to list and says nothing about it.
    ui.clear();
    shell::openHistory(*app, 1);
    auto* viewer = app->forms().find<history::TyakuForm>();
    EXPECT_EQ(c<QTreeView>(viewer, "MailListView")->model()->rowCount(), 0);
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_FALSE(QFileInfo::exists(dataDir())) << "a fresh folder would hide the user's one";
}

TEST_F(DataFolderWindows, AReadOnlyDataFolderIsReportedAndKeptAsItWas)
{
    populate();
    const QMap<QString, QByteArray> before = snapshot();
    {
        badfiles::ReadOnlyFolder readOnly(dataDir());
        if (!readOnly.active())
            GTEST_SKIP() << "cannot make a folder read-only here: " << readOnly.why().toStdString();
        expectSendRefused(QStringLiteral("送信履歴に記録できません"));
        ui.clear();
        EXPECT_EQ(bookRows(openBook()).size(), 2);
        EXPECT_TRUE(ui.shown().empty()) << "reading needs no writing";
        expectRegisterRefused(QStringLiteral("アドレス帳"));
        expectDeleteRefused(QStringLiteral("アドレス帳"));
        expectAccountSaveRefused();
        expectHistoryDeletionRefused(QStringLiteral("履歴ファイルを更新できませんでした"));
    }
    EXPECT_EQ(snapshot(), before);
}

TEST_F(DataFolderWindows, AReadOnlyProgramFolderKeepsTheServerSettings)
{
    const QByteArray settings =
        "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=a@example.jp\r\nAPOP=0\r\n";
    writeFile(path(common::paths::ServerSettings), settings);
    badfiles::ReadOnlyFolder readOnly(dir.root());
    if (!readOnly.active())
        GTEST_SKIP() << "cannot make a folder read-only here: " << readOnly.why().toStdString();
    auto* dialog = app->forms().get<settings::OptionForm>();
    c<QCheckBox>(dialog, "ApopCheck")->setChecked(true);
    ui.clear();
    c<QPushButton>(dialog, "OKCommand")->click();
    expectOneBox(QStringLiteral("サーバー設定を保存できませんでした"));
    EXPECT_EQ(readFile(path(common::paths::ServerSettings)), settings);
    EXPECT_EQ(app->state().server.ApopFlag, 1) << "this run goes on with the choice";
}

TEST_F(DataFolderWindows, DataFilesThatAreSymbolicLinksAreNeverWrittenThrough)
{
    // Each data file moved elsewhere with a link left in its place: the files read
    // through the link, but every write is refused and the targets keep their bytes.
    populate();
    const QString elsewhere = dir.root() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    QMap<QString, QByteArray> targets;
    for (const QString& file : {path(common::paths::ReceivedHistory), path(common::paths::SentHistory), bookPath()}) {
        const QString target = elsewhere + u'/' + QFileInfo(file).fileName();
        ASSERT_TRUE(QFile::rename(file, target));
        ASSERT_TRUE(QFile::link(target, file));
        targets[target] = readFile(target);
    }
    const auto expectLinksKept = [&] {
        for (auto it = targets.cbegin(); it != targets.cend(); ++it)
            EXPECT_EQ(readFile(it.key()), it.value()) << it.key().toStdString() << " was written";
        for (const QString& file : {path(common::paths::ReceivedHistory), path(common::paths::SentHistory), bookPath()})
            EXPECT_TRUE(QFileInfo(file).isSymLink()) << file.toStdString();
    };

    expectSendRefused(QStringLiteral("送信履歴に記録できません"));
    expectRegisterRefused(QStringLiteral("シンボリックリンク"));
    expectDeleteRefused(QStringLiteral("シンボリックリンク"));
    expectHistoryDeletionRefused(QStringLiteral("シンボリックリンク"));
    // What the receive stores goes the same way.
    storage::HistoryFile received(dir.appDir(), storage::HistoryKind::Received);
    const common::Status appended = received.AppendRecord(badfiles::numberedMail(QStringLiteral("DF"), 3));
    EXPECT_FALSE(appended);
    EXPECT_EQ(appended.reason(), common::Reason::SymbolicLink) << appended.detail().toStdString();
    EXPECT_FALSE(received.CompactHistory());
    expectLinksKept();

    // A link to nowhere is not followed to create its target either.
    const QString missing = elsewhere + QStringLiteral("/missing.data");
    ASSERT_TRUE(QFile::remove(path(common::paths::SentHistory)));
    ASSERT_TRUE(QFile::link(missing, path(common::paths::SentHistory)));
    EXPECT_FALSE(storage::HistoryFile(dir.appDir(), storage::HistoryKind::Sent)
                     .AppendRecord(badfiles::numberedMail(QStringLiteral("SF"), 2)));
    EXPECT_FALSE(QFileInfo::exists(missing));

    // A link in place of the scratch file is replaced, its target left alone.
    const QString received2 = path(common::paths::ReceivedHistory);
    ASSERT_TRUE(QFile::remove(received2));
    ASSERT_TRUE(QFile::copy(elsewhere + u'/' + QFileInfo(received2).fileName(), received2));
    const QString decoy = elsewhere + QStringLiteral("/decoy");
    writeFile(decoy, "decoy");
    ASSERT_TRUE(QFile::link(decoy, path(common::paths::ReceivedScratch)));
    ASSERT_TRUE(received.MarkDeleted(1));
    EXPECT_TRUE(received.CompactHistory());
    EXPECT_EQ(readFile(decoy), QByteArray("decoy"));
    EXPECT_EQ(received.RecordCount(), 1);
    EXPECT_FALSE(QFileInfo(path(common::paths::ReceivedScratch)).isSymLink());
}

TEST_F(DataFolderWindows, AFullDiskIsReportedAndLeavesNoHalfWrittenFile)
{
    badfiles::SmallDisk disk(dataDir(), 1 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "no small disk here: " << disk.why().toStdString();
    // 22 entries end 48 bytes short of a page: the next one is cut at the page's end.
    populate(22);
    const QMap<QString, QByteArray> before = snapshot();
    ASSERT_TRUE(disk.leaveFree(0));

    expectSendRefused(QStringLiteral("ディスクの空き"));
    expectRegisterRefused(QStringLiteral("ディスクの空き"));
    expectDeleteRefused(QStringLiteral("ディスクの空き"));
    expectAccountSaveRefused();
    expectHistoryDeletionRefused(QStringLiteral("ディスクの空き容量"));
    EXPECT_EQ(snapshot(), before);

    // Room made, the same actions go through.
    disk.makeRoom();
    int sent = 0;
    ui.clear();
    EXPECT_TRUE(send(QStringLiteral("kato@example.jp"), sent).isNull());
    EXPECT_EQ(sent, 1);
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();
    EXPECT_EQ(storage::HistoryFile(dir.appDir(), storage::HistoryKind::Sent).RecordCount(), 2);
    auto* form = openBook();
    registerEntry(form, QStringLiteral("新規"), QStringLiteral("new@example.jp"));
    EXPECT_EQ(bookRows(form).size(), 23);
    EXPECT_EQ(QFileInfo(bookPath()).size(), 23 * storage::AddressRecord::Size);
}

TEST_F(DataFolderWindows, AFullDiskKeepsTheServerSettings)
{
    badfiles::SmallDisk disk(dir.root(), 256 << 10);
    if (!disk.mounted())
        GTEST_SKIP() << "no small disk here: " << disk.why().toStdString();
    ASSERT_TRUE(QDir().mkpath(dataDir()));
    const QByteArray settings =
        "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=a@example.jp\r\nAPOP=0\r\n";
    writeFile(path(common::paths::ServerSettings), settings);
    ASSERT_TRUE(disk.leaveFree(0));
    auto* dialog = app->forms().get<settings::OptionForm>();
    c<QLineEdit>(dialog, "Pop3Text")->setText(QStringLiteral("pop.example.co.jp"));
    ui.clear();
    c<QPushButton>(dialog, "OKCommand")->click();
    expectOneBox(QStringLiteral("サーバー設定を保存できませんでした"));
    EXPECT_EQ(readFile(path(common::paths::ServerSettings)), settings);
}

} // namespace
} // namespace corvidan::test
