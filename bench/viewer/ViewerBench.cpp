// Benchmark of the history viewer offscreen: opening a 10,000-record history and
// deleting one record through the "一件削除" path. Prints "name value unit" lines.
#include "history/TyakuForm.h"
#include "shell/Application.h"
#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "support/ScriptedUi.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace corvidan;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "bench_viewer: %s\n", what);
    std::exit(1);
}

storage::MailRecord record(int i)
{
    static const QString paragraph = QStringLiteral(
        "いつもお世話になっております。先日の件につきまして、下記のとおりご連絡いたします。\r\n"
        "資料は添付ファイルをご確認ください。よろしくお願いいたします。\r\n\r\n");
    storage::MailRecord r;
    r.Subject = QStringLiteral("【ご案内】第%1回 定例会議の議事録（候補①～③）").arg(i);
    r.Date = QStringLiteral("2026/%1/%2 %3:%4").arg(1 + i % 12).arg(1 + i % 28).arg(i % 24).arg(i % 60);
    r.Address = QStringLiteral("山田太郎 <user%1@example.co.jp>").arg(i);
    r.Body = paragraph.repeated(3 + i % 30);
    return r;
}

void buildHistory(const QString& path, int records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        die("cannot create the history");
    QByteArray chunk;
    for (int i = 1; i <= records; ++i) {
        chunk += record(i).toBytes();
        if (chunk.size() >= 64 * storage::MailRecord::Size || i == records) {
            if (file.write(chunk) != chunk.size())
                die("cannot write the history");
            chunk.clear();
        }
    }
    file.flush();
    ::fsync(file.handle());
}

double copyFile(const QString& from, const QString& to)
{
    const auto start = Clock::now();
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        die("cannot copy");
    while (!in.atEnd()) {
        const QByteArray block = in.read(1 << 20);
        if (out.write(block) != block.size())
            die("cannot write the copy");
    }
    out.flush();
    ::fsync(out.handle());
    return msSince(start);
}

double openOnce(history::TyakuForm* form, int expected)
{
    const auto start = Clock::now();
    form->OpenHistory(1);
    QCoreApplication::processEvents();
    const double ms = msSince(start);
    auto* view = form->findChild<QTreeView*>(QStringLiteral("MailListView"));
    if (view->model()->rowCount() != expected || form->bodyText().isEmpty())
        die("the list was not filled");
    return ms;
}

double deleteOnce(history::TyakuForm* form, int row, int expected)
{
    auto* view = form->findChild<QTreeView*>(QStringLiteral("MailListView"));
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    form->MailListView_Click();
    const auto start = Clock::now();
    form->Command3_Click();
    QCoreApplication::processEvents();
    const double ms = msSince(start);
    if (view->model()->rowCount() != expected - 1)
        die("the record was not deleted");
    return ms;
}

void print(const char* name, double value, const char* unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    ui::installJapaneseFonts();
    const int records = qEnvironmentVariableIsSet("CORVIDAN_BENCH_RECORDS")
                            ? qEnvironmentVariableIntValue("CORVIDAN_BENCH_RECORDS")
                            : 10000;
    const int reps = 5;

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkpath(QStringLiteral("★MAilData")))
        die("temporary folder");
    // Every question is answered Yes, every other dialog cancelled.
    test::ScriptedUi seam;
    seam.setUnscriptedQuestionAnswer(ui::MsgAnswer::Yes);
    seam.setBrowserWorks(false);
    shell::Application app(common::AppDir(dir.path()), seam);
    storage::HistoryFile history(app.appDir(), storage::HistoryKind::Received);
    buildHistory(history.path(), records);
    {
        // The records a deletion below removes have their originals, which go with them.
        const storage::Originals originals(app.appDir(), storage::HistoryKind::Received);
        for (int n = 1; n <= reps + 2; ++n) {
            const std::optional<QByteArray> bytes = history.ReadRecordBytes(n);
            if (!bytes || !originals.Store(*bytes, QByteArray(8000, 'm')))
                die("cannot keep an original");
        }
    }

    auto* form = app.forms().get<history::TyakuForm>();
    openOnce(form, records); // the first listing builds the header summary
    std::vector<double> open, removed, copied;
    for (int i = 0; i < reps; ++i)
        open.push_back(openOnce(form, records));
    // The two sides alternate in order, so that neither always runs in the memory
    // the other just freed (see bench/README.md, storage).
    for (int i = 0; i < reps; ++i) {
        const auto copy = [&] {
            copied.push_back(copyFile(history.path(), dir.path() + QStringLiteral("/copy.data")));
            QFile::remove(dir.path() + QStringLiteral("/copy.data"));
            ::sync();
        };
        if (i % 2 == 0)
            copy();
        removed.push_back(deleteOnce(form, 1, records));
        ::sync();
        if (i % 2 == 1)
            copy();
        if (!history.AppendRecord(record(records + i)))
            die("cannot refill the history");
        openOnce(form, records);
    }
    // Records 2 … reps + 1 went, with their originals; those of 1 and reps + 2 stay.
    if (storage::Originals(app.appDir(), storage::HistoryKind::Received).TotalBytes() != 2 * 8000)
        die("the originals did not go with their records");
    const double openMs = median(open);
    const double deleteMs = median(removed);
    const double copyMs = median(copied);
    print("history_open_10000_ms", openMs, "ms");
    print("history_delete_one_10000_ms", deleteMs, "ms");
    print("history_delete_budget_ms", copyMs + openMs, "ms");
    print("history_delete_vs_budget", deleteMs / (copyMs + openMs), "x");
    return 0;
}
