#include "history/HistoryListModel.h"

#include "storage/HistoryFile.h"
#include "support/TempAppDir.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace corvidan;

namespace {

storage::MailRecord record(const QString& subject, const QString& address, const QString& date)
{
    storage::MailRecord r;
    r.Subject = subject;
    r.Address = address;
    r.Date = date;
    r.Body = QStringLiteral("body");
    return r;
}

QString cell(const history::HistoryListModel& model, int row, int column)
{
    return model.data(model.index(row, column)).toString();
}

} // namespace

TEST(HistoryListModel, RowKIsRecordKWithColumnsSubjectFromDate)
{
    test::TempAppDir dir;
    storage::HistoryFile file(dir.appDir(), storage::HistoryKind::Received);
    ASSERT_TRUE(file.AppendRecord(record(QStringLiteral("一件目"), QStringLiteral("a@x"), QStringLiteral("d1"))));
    ASSERT_TRUE(file.AppendRecord(record(QStringLiteral("two"), QStringLiteral("b@x"), QStringLiteral("d2"))));

    history::HistoryListModel model;
    model.setHeaders(file.ReadAllHeaders());
    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Subject"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("From"));
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Date"));
    // Cells keep the field's blank padding: they are not trimmed.
    EXPECT_EQ(cell(model, 0, 0).trimmed(), QStringLiteral("一件目"));
    EXPECT_EQ(cell(model, 0, 0).size(), 100 - 3);
    EXPECT_EQ(cell(model, 1, 1).trimmed(), QStringLiteral("b@x"));
    EXPECT_EQ(cell(model, 1, 2).trimmed(), QStringLiteral("d2"));
    EXPECT_FALSE(model.data(model.index(0, 0), Qt::DecorationRole).isValid());

    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(HistoryListModel, CellsEndAtTheFirstNul)
{
    history::HistoryListModel model;
    storage::MailHeader h;
    h.Subject = QStringLiteral("abc") + QChar(0) + QStringLiteral("def");
    h.Address = QStringLiteral("from") + QChar(0);
    h.Date = QStringLiteral("date");
    model.setHeaders({h});
    EXPECT_EQ(cell(model, 0, 0), QStringLiteral("abc"));
    EXPECT_EQ(cell(model, 0, 1), QStringLiteral("from"));
    EXPECT_EQ(cell(model, 0, 2), QStringLiteral("date"));
}
