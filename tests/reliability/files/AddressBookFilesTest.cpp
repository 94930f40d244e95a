// An address book file of zero length, or one whose length is not a whole number
// of records: the window opens without a word, lists the whole entries, takes
// new ones, and no whole entry is ever lost.

#include "FilesWindowTest.h"

#include <QFileInfo>
#include <QListWidget>

namespace corvidan::test {
namespace {

using badfiles::appendFile;
using badfiles::readFile;
using badfiles::writeFile;
using storage::AddressRecord;

class AddressBookFiles : public FilesWindowTest {};

TEST_F(AddressBookFiles, AZeroLengthFileOpensEmptyAndTakesEntries)
{
    writeFile(bookPath(), QByteArray());
    ASSERT_TRUE(QFileInfo::exists(bookPath()));
    auto* form = openBook();
    EXPECT_EQ(bookRows(form), QStringList());
    EXPECT_EQ(c<QLineEdit>(form, "Text3")->text(), QStringLiteral("0"));
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();

    registerEntry(form, QStringLiteral("佐藤 1"), QStringLiteral("sato1@example.jp"));
    registerEntry(form, QStringLiteral("佐藤 2"), QStringLiteral("sato2@example.jp"));
    EXPECT_EQ(bookRows(form), (QStringList{QStringLiteral("sato1@example.jp"),
                                           QStringLiteral("sato2@example.jp")}));
    EXPECT_EQ(c<QLineEdit>(form, "Text3")->text(), QStringLiteral("2"));
    EXPECT_EQ(readFile(bookPath()), entry(1).toBytes() + entry(2).toBytes());
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(AddressBookFiles, APartialEntryAtTheEndIsNeverListedAndTheNextEntryTakesItsPlace)
{
    // Into the name, the whole name, up to the flag, all but the last byte.
    for (const qsizetype torn :
         {qsizetype(1), qsizetype(90), qsizetype(93), qsizetype(AddressRecord::Size - 1)}) {
        SCOPED_TRACE(testing::Message() << "partial entry of " << torn << " bytes");
        const QByteArray whole = entry(1).toBytes() + entry(2).toBytes();
        AddressRecord lost;
        lost.Name = QStringLiteral("途中");
        lost.Address = QStringLiteral("torn@example.jp");
        writeFile(bookPath(), whole + lost.toBytes().left(torn));
        ui.clear();

        auto* form = openBook();
        EXPECT_EQ(bookRows(form), (QStringList{QStringLiteral("sato1@example.jp"),
                                               QStringLiteral("sato2@example.jp")}));
        EXPECT_EQ(c<QLineEdit>(form, "Text3")->text(), QStringLiteral("2"));
        pressRow(form, 1);
        EXPECT_EQ(c<QLineEdit>(form, "Text2")->text(), QStringLiteral("佐藤 2"));

        // The compose window's list of the address book agrees.
        auto* compose = app->forms().get<compose::WriteForm>();
        c<QPushButton>(compose, "Command4")->click();
        auto* names = c<QListWidget>(compose, "List1");
        ASSERT_EQ(names->count(), 2);
        EXPECT_EQ(names->item(1)->text().trimmed(), QStringLiteral("佐藤 2"));

        registerEntry(form, QStringLiteral("佐藤 3"), QStringLiteral("sato3@example.jp"));
        EXPECT_EQ(bookRows(form), (QStringList{QStringLiteral("sato1@example.jp"),
                                               QStringLiteral("sato2@example.jp"),
                                               QStringLiteral("sato3@example.jp")}));
        EXPECT_EQ(readFile(bookPath()), whole + entry(3).toBytes())
            << "the partial entry is overwritten";
        EXPECT_EQ(app->state().CurrentRecordNo, 3);

        // Deleting the first entry keeps the others in order.
        pressRow(form, 0);
        ui.queueAnswer(ui::MsgAnswer::Yes);
        c<QPushButton>(form, "Command4")->click();
        EXPECT_EQ(bookRows(form), (QStringList{QStringLiteral("sato2@example.jp"),
                                               QStringLiteral("sato3@example.jp")}));
        EXPECT_EQ(readFile(bookPath()), entry(2).toBytes() + entry(3).toBytes());
        EXPECT_EQ(ui.shown().size(), 1u)
            << "only the question: " << ui.shownTexts().join(u'\n').toStdString();
        form->close();
        compose->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(AddressBookFiles, APartialEntryIsDroppedByTheCompactionOfADeletion)
{
    const QByteArray whole = entry(1).toBytes() + entry(2).toBytes() + entry(3).toBytes();
    writeFile(bookPath(), whole);
    appendFile(bookPath(), entry(4).toBytes().left(100));
    auto* form = openBook();
    pressRow(form, 1);
    ui.queueAnswer(ui::MsgAnswer::No);
    c<QPushButton>(form, "Command4")->click();
    // Answered No, the file is still rewritten: the whole entries stay, the piece goes.
    EXPECT_EQ(readFile(bookPath()), whole);
    EXPECT_EQ(bookRows(form).size(), 3);
}

} // namespace
} // namespace corvidan::test
