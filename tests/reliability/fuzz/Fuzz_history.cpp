// Reading a mail history made of arbitrary bytes: a torn tail, any live flag,
// any field bytes, a stale or garbage summary file and a scratch file beside it.
#include "FuzzSupport.h"

#include "common/FixedField.h"
#include "storage/HistoryFile.h"
#include "storage/MailRecord.h"

#include <QFile>
#include <fuzzer/FuzzedDataProvider.h>

using namespace corvidan;
using corvidan::fuzz::visible;
using storage::MailRecord;

namespace {

constexpr int kHeaderSample = MailRecord::HeaderBytes;
constexpr int kBodySample = 96;

/// Whole records built from the input: header bytes, a body start, the rest of
/// the body one repeated byte, and the line end and live flag as given.
QByteArray buildRecords(FuzzedDataProvider& in, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        QByteArray record(MailRecord::Size, ' ');
        const std::string header = in.ConsumeBytesAsString(kHeaderSample);
        record.replace(0, qsizetype(header.size()), QByteArray::fromStdString(header));
        const std::string body = in.ConsumeBytesAsString(kBodySample);
        record.replace(MailRecord::BodyOffset, qsizetype(body.size()), QByteArray::fromStdString(body));
        const char fill = static_cast<char>(in.ConsumeIntegral<uint8_t>());
        for (int at = MailRecord::BodyOffset + kBodySample; at < MailRecord::LineEndOffset; ++at)
            record[at] = fill;
        const std::string tail = in.ConsumeBytesAsString(4);
        record.replace(MailRecord::LineEndOffset, qsizetype(tail.size()), QByteArray::fromStdString(tail));
        bytes += record;
    }
    return bytes;
}

void checkRecord(const MailRecord& got, const char* bytes, int n, const char* how)
{
    const MailRecord want = {common::readField(bytes + MailRecord::SubjectOffset, MailRecord::SubjectWidth),
                             common::readField(bytes + MailRecord::DateOffset, MailRecord::DateWidth),
                             common::readField(bytes + MailRecord::AddressOffset, MailRecord::AddressWidth),
                             common::readField(bytes + MailRecord::BodyOffset, MailRecord::BodyWidth),
                             common::readInt16LE(bytes + MailRecord::LiveOffset)};
    FUZZ_CHECK(got.Subject == want.Subject && got.Date == want.Date && got.Address == want.Address &&
                   got.Body == want.Body && got.Live == want.Live,
               QStringLiteral("%1 record %2: ").arg(QString::fromLatin1(how)).arg(n) + visible(got.Subject));
}

void checkHeaders(const storage::HistoryFile& history, const QByteArray& file, const char* when)
{
    const qsizetype count = file.size() / MailRecord::Size;
    const std::vector<storage::MailHeader> headers = history.ReadAllHeaders();
    FUZZ_CHECK(qsizetype(headers.size()) == count,
               QStringLiteral("%1: %2 headers for %3 records").arg(QString::fromLatin1(when)).arg(headers.size()).arg(count));
    for (qsizetype i = 0; i < count; ++i) {
        const char* h = file.constData() + i * MailRecord::Size;
        const QString subject = common::readField(h + MailRecord::SubjectOffset, MailRecord::SubjectWidth);
        const QString date = common::readField(h + MailRecord::DateOffset, MailRecord::DateWidth);
        const QString address = common::readField(h + MailRecord::AddressOffset, MailRecord::AddressWidth);
        FUZZ_CHECK(headers[i].Subject == subject && headers[i].Date == date && headers[i].Address == address,
                   QStringLiteral("%1: header %2\nlisted:   ").arg(QString::fromLatin1(when)).arg(i + 1) +
                       visible(headers[i].Subject + u'|' + headers[i].Date + u'|' + headers[i].Address) +
                       QStringLiteral("\nexpected: ") + visible(subject + u'|' + date + u'|' + address));
    }
}

void checkReading(const storage::HistoryFile& history, const QByteArray& file)
{
    const int count = int(file.size() / MailRecord::Size);
    FUZZ_CHECK(history.RecordCount() == count, QString::number(history.RecordCount()));
    FUZZ_CHECK(history.NextRecordNo() == std::int16_t(count + 1), QStringLiteral("next record number"));
    int delivered = 0;
    const common::Status st = history.ReadAllRecords([&](int n, const MailRecord& record) {
        FUZZ_CHECK(n == delivered + 1, QString::number(n));
        checkRecord(record, file.constData() + (n - 1) * MailRecord::Size, n, "enumerated");
        ++delivered;
        return true;
    });
    FUZZ_CHECK(st.isOk() && delivered == count, QStringLiteral("delivered %1 of %2").arg(delivered).arg(count));
    for (int n = 1; n <= count; ++n) {
        const std::optional<MailRecord> record = history.ReadRecord(n);
        FUZZ_CHECK(record.has_value(), QString::number(n));
        checkRecord(*record, file.constData() + (n - 1) * MailRecord::Size, n, "read");
    }
    FUZZ_CHECK(!history.ReadRecord(count + 1).has_value(), QStringLiteral("a torn tail read as a record"));
    checkHeaders(history, file, "first listing");
    checkHeaders(history, file, "listing from the summary");
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(0) || file.write(bytes) != bytes.size())
        fuzz::fail("write", path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const uint8_t mode = in.ConsumeIntegral<uint8_t>();
    const int count = in.ConsumeIntegralInRange(0, 4);
    const int tail = (mode & 1) ? in.ConsumeIntegralInRange(1, MailRecord::Size - 1) : 0;
    QByteArray file = buildRecords(in, count);
    file.append(tail, static_cast<char>(in.ConsumeIntegral<uint8_t>()));
    const QString subject = QString::fromUtf8(in.ConsumeRandomLengthString(300));
    const QString address = QString::fromUtf8(in.ConsumeRandomLengthString(200));
    const QByteArray summary = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    fuzz::Scratch dir;
    storage::HistoryFile history(dir.file(QStringLiteral("zrbdata2.data")), dir.file(QStringLiteral("ZRBDATA2.TMP")));
    // A scratch file beside a missing history is what a crashed compaction leaves:
    // it is the history. Beside a present history it is ignored.
    const bool asScratch = mode & 2;
    dir.write(asScratch ? QStringLiteral("ZRBDATA2.TMP") : QStringLiteral("zrbdata2.data"), file);
    if (mode & 4)
        dir.write(QStringLiteral("zrbdata2.data.idx"), summary);
    if ((mode & 8) && !asScratch)
        dir.write(QStringLiteral("ZRBDATA2.TMP"), summary);
    checkReading(history, file);

    // Someone changes a header in place, keeping the size: the summary written by
    // the listing above is stale now and must not be believed.
    if (count >= 3 && (mode & 16)) {
        QByteArray changed = file;
        const qsizetype at = MailRecord::Size + in.ConsumeIntegralInRange(0, MailRecord::HeaderBytes - 1);
        changed[at] = static_cast<char>(changed[at] ^ 0x21);
        writeFile(history.path(), changed);
        checkHeaders(history, changed, "after an outside change");
        file = changed;
    }

    // The next message goes right after the last whole record, over a torn tail.
    MailRecord record;
    record.Subject = subject;
    record.Address = address;
    record.Date = QStringLiteral("2026/12/08 12:00:00");
    record.Body = subject + QStringLiteral("\r\n") + address;
    std::int16_t n = 0;
    const common::Status st = history.AppendRecord(record, &n);
    FUZZ_CHECK(st.isOk() && n == count + 1, QStringLiteral("append: %1 as %2").arg(st.detail()).arg(n));
    const QByteArray after = fileBytes(history.path());
    FUZZ_CHECK(after.size() == qsizetype(count + 1) * MailRecord::Size, QString::number(after.size()));
    FUZZ_CHECK(after.left(qsizetype(count) * MailRecord::Size) == file.left(qsizetype(count) * MailRecord::Size),
               QStringLiteral("an append changed earlier records"));
    const std::optional<MailRecord> back = history.ReadRecord(n);
    FUZZ_CHECK(back && back->Live == 1, QStringLiteral("appended record"));
    FUZZ_CHECK(back->Subject == fuzz::expectedField(subject, MailRecord::SubjectWidth),
               visible(back->Subject) + QStringLiteral(" vs ") + visible(subject));
    FUZZ_CHECK(back->Address == fuzz::expectedField(address, MailRecord::AddressWidth), visible(back->Address));
    FUZZ_CHECK(back->Body == fuzz::expectedField(record.Body, MailRecord::BodyWidth), visible(back->Body));
    checkHeaders(history, after, "after the append");
    return 0;
}
