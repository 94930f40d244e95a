// Benchmark of the history file: listing against a plain read of the file, and
// compaction against a plain copy. Prints "name value unit" lines only.
#include "storage/HistoryFile.h"
#include "storage/MailRecord.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <random>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace corvidan::storage;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

/// Processor time of this process (every thread, user and kernel), in ms.
double cpuMs()
{
    timespec t {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void die(const char* what)
{
    std::perror(what);
    std::exit(1);
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

/// Japanese mail of the sizes people actually keep: a subject, a sender and a body of 1-12 KB.
MailRecord realisticRecord(int i, std::mt19937& rng)
{
    static const QString subjects[] = {QStringLiteral("【ご案内】年末年始の営業について"),
                                       QStringLiteral("Re: 来週の打ち合わせ日程（候補①～③）"),
                                       QStringLiteral("㈱サンプル商事 請求書送付のお知らせ"),
                                       QStringLiteral("ｷｬﾝﾍﾟｰﾝ当選のお知らせ"),
                                       QStringLiteral("議事録：第%1回 定例会議")};
    static const QString names[] = {QStringLiteral("山田太郎"), QStringLiteral("佐藤花子"),
                                    QStringLiteral("鈴木一郎"), QStringLiteral("高橋美咲")};
    static const QString paragraph = QStringLiteral(
        "いつもお世話になっております。先日の件につきまして、下記のとおりご連絡いたします。\r\n"
        "資料は添付ファイルをご確認ください。ご不明な点がございましたらお気軽にお問い合わせください"
        "。\r\n"
        "なお、締め切りは１２月２０日（日）を予定しております。よろしくお願いいたします。\r\n\r\n");
    MailRecord r;
    r.Subject = subjects[i % 5].contains(u'%') ? subjects[i % 5].arg(i) : subjects[i % 5];
    r.Date =
        QStringLiteral("2026/%1/%2 %3:%4").arg(1 + i % 12).arg(1 + i % 28).arg(i % 24).arg(i % 60);
    r.Address = names[i % 4] + QStringLiteral(" <user%1@example.co.jp>").arg(i);
    const int paragraphs = std::uniform_int_distribution<int>(3, 40)(rng);
    r.Body = paragraph.repeated(paragraphs);
    return r;
}

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0)
            die("write");
        done += n;
    }
}

/// Builds the history in large writes with one flush, as a long-used history would be.
void buildHistory(const QString& path, int records)
{
    std::mt19937 rng(42);
    const int fd = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        die("open history");
    QByteArray chunk;
    for (int i = 1; i <= records; ++i) {
        chunk += realisticRecord(i, rng).toBytes();
        if (chunk.size() >= 8 * MailRecord::Size || i == records) {
            writeAll(fd, chunk);
            chunk.clear();
        }
    }
    if (::fsync(fd) != 0)
        die("fsync history");
    ::close(fd);
}

/// Flushes and drops a file from the page cache (a missing file is skipped).
void evict(const QString& path)
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

double readWholeFile(const QString& path)
{
    const auto start = Clock::now();
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        die("open for reading");
    std::vector<char> buf(1 << 20);
    while (true) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0)
            die("read");
        if (n == 0)
            break;
    }
    ::close(fd);
    return msSince(start);
}

double listHistory(const HistoryFile& history, int expected)
{
    const auto start = Clock::now();
    const std::vector<MailHeader> headers = history.ReadAllHeaders();
    const double ms = msSince(start);
    if (static_cast<int>(headers.size()) != expected || headers.front().Subject.isEmpty()) {
        std::fprintf(stderr, "listing gave %zu records, expected %d\n", headers.size(), expected);
        std::exit(1);
    }
    return ms;
}

/// One sequential copy through a large buffer, then a flush: what copying the file costs.
double copyFile(const QString& from, const QString& to)
{
    const auto start = Clock::now();
    const int in = ::open(native(from).constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(native(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (in < 0 || out < 0)
        die("open for copying");
    std::vector<char> buf(1 << 20);
    while (true) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0)
            die("read");
        if (n == 0)
            break;
        writeAll(out, QByteArray::fromRawData(buf.data(), n));
    }
    if (::fsync(out) != 0)
        die("fsync copy");
    ::close(in);
    ::close(out);
    return msSince(start);
}

/// The same copy done inside the kernel (copy_file_range), the fastest plain copy there is.
double copyFileInKernel(const QString& from, const QString& to)
{
    const auto start = Clock::now();
    const int in = ::open(native(from).constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(native(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (in < 0 || out < 0)
        die("open for copying");
    while (true) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n < 0)
            die("copy_file_range");
        if (n == 0)
            break;
    }
    if (::fsync(out) != 0)
        die("fsync copy");
    ::close(in);
    ::close(out);
    return msSince(start);
}

double compactOneNearTheFront(HistoryFile& history)
{
    const auto start = Clock::now();
    if (!history.MarkDeleted(2) || !history.CompactHistory())
        die("compaction");
    return msSince(start);
}

void print(const char* name, double value, const char* unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
}

} // namespace

int main()
{
    const int records = std::getenv("CORVIDAN_BENCH_RECORDS")
                            ? std::atoi(std::getenv("CORVIDAN_BENCH_RECORDS"))
                            : 10000;
    const int reps = 7;
    QTemporaryDir dir;
    if (!dir.isValid())
        die("temporary folder");
    const QString path = dir.path() + QStringLiteral("/zrbdata2.data");
    const QString copy = dir.path() + QStringLiteral("/copy.data");
    buildHistory(path, records);
    HistoryFile history(path, dir.path() + QStringLiteral("/ZRBDATA2.TMP"));
    // Everything the listing reads: the history and the summary beside it.
    const QString summary = path + QStringLiteral(".idx");

    listHistory(history, records); // the first listing writes the summary
    readWholeFile(path);
    std::vector<double> list, read, listCold, readCold, compact, copied, copiedInKernel;
    std::vector<double> listCpu, readCpu;
    for (int i = 0; i < reps; ++i) {
        double cpu = cpuMs();
        list.push_back(listHistory(history, records));
        listCpu.push_back(cpuMs() - cpu);
        cpu = cpuMs();
        read.push_back(readWholeFile(path));
        readCpu.push_back(cpuMs() - cpu);
    }
    for (int i = 0; i < reps; ++i) {
        evict(path);
        evict(summary);
        listCold.push_back(listHistory(history, records));
        evict(path);
        readCold.push_back(readWholeFile(path));
    }
    readWholeFile(path);
    // What a write into fresh page cache costs varies with the machine's memory (on a
    // virtual machine, memory the guest freed may have been handed back to the host
    // and is faulted in again on first use): whichever side always ran right after
    // the other's frees would get the other's memory state. The order alternates.
    for (int i = 0; i < reps; ++i) {
        const auto copies = [&] {
            copied.push_back(copyFile(path, copy));
            QFile::remove(copy);
            ::sync();
            copiedInKernel.push_back(copyFileInKernel(path, copy));
            QFile::remove(copy);
            ::sync();
        };
        if (i % 2 == 0)
            copies();
        compact.push_back(compactOneNearTheFront(history));
        ::sync();
        if (i % 2 == 1)
            copies();
    }

    print("history_list_ms", median(list), "ms");
    print("history_read_file_ms", median(read), "ms");
    print("history_list_speedup", median(read) / median(list), "x");
    print("history_list_cpu_ms", median(listCpu), "ms");
    print("history_read_file_cpu_ms", median(readCpu), "ms");
    print("history_list_cpu_speedup", median(readCpu) / median(listCpu), "x");
    print("history_list_cold_ms", median(listCold), "ms");
    print("history_read_file_cold_ms", median(readCold), "ms");
    print("history_list_cold_speedup", median(readCold) / median(listCold), "x");
    print("history_compact_ms", median(compact), "ms");
    print("history_copy_ms", median(copied), "ms");
    print("history_compact_vs_copy", median(compact) / median(copied), "x");
    print("history_copy_in_kernel_ms", median(copiedInKernel), "ms");
    print("history_compact_vs_copy_in_kernel", median(compact) / median(copiedInKernel), "x");
    return 0;
}
