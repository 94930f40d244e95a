// Reading, appending to and compacting an address book made of arbitrary bytes.
#include "FuzzSupport.h"

#include "common/FixedField.h"
#include "storage/AddressBookFile.h"

#include <QFile>
#include <fuzzer/FuzzedDataProvider.h>

using namespace corvidan;
using corvidan::fuzz::visible;
using storage::AddressRecord;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void checkRecord(const AddressRecord& got, const char* bytes, int n)
{
    const QString name = common::readField(bytes + AddressRecord::NameOffset, AddressRecord::NameWidth);
    const QString address = common::readField(bytes + AddressRecord::AddressOffset, AddressRecord::AddressWidth);
    FUZZ_CHECK(got.Name == name && got.Address == address &&
                   got.Live == common::readInt16LE(bytes + AddressRecord::LiveOffset),
               QStringLiteral("record %1: ").arg(n) + visible(got.Name) + u'|' + visible(got.Address));
}

void checkReading(const storage::AddressBookFile& book, const QByteArray& file)
{
    const int count = int(file.size() / AddressRecord::Size);
    FUZZ_CHECK(book.Count() == count, QString::number(book.Count()));
    FUZZ_CHECK(book.NextRecordNo() == std::int16_t(count + 1), QStringLiteral("next record number"));
    int delivered = 0;
    const common::Status st = book.Enumerate([&](int n, const AddressRecord& record) {
        FUZZ_CHECK(n == delivered + 1, QString::number(n));
        checkRecord(record, file.constData() + (n - 1) * AddressRecord::Size, n);
        ++delivered;
        return true;
    });
    FUZZ_CHECK(st.isOk() && delivered == count, QStringLiteral("delivered %1 of %2").arg(delivered).arg(count));
    for (int n = 1; n <= count; ++n) {
        const std::optional<AddressRecord> record = book.ReadRecord(n);
        FUZZ_CHECK(record.has_value(), QString::number(n));
        checkRecord(*record, file.constData() + (n - 1) * AddressRecord::Size, n);
    }
    FUZZ_CHECK(!book.ReadRecord(count + 1).has_value(), QStringLiteral("a torn tail read as a record"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString name = QString::fromUtf8(in.ConsumeRandomLengthString(200));
    const QString address = QString::fromUtf8(in.ConsumeRandomLengthString(200));
    const int deleteAt = in.ConsumeIntegralInRange(0, 40);
    const QByteArray file = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    fuzz::Scratch dir;
    storage::AddressBookFile book(dir.file(QStringLiteral("Zrbdata20.data")),
                                        dir.file(QStringLiteral("ZRBDATA20.TMP")));
    dir.write(QStringLiteral("Zrbdata20.data"), file);
    checkReading(book, file);

    // Registering an entry lands right after the last whole record, over a torn tail.
    const int count = int(file.size() / AddressRecord::Size);
    std::int16_t n = 0;
    common::Status st = book.AppendRecord({name, address, 1}, &n);
    FUZZ_CHECK(st.isOk() && n == count + 1, st.detail());
    QByteArray after = fileBytes(book.path());
    FUZZ_CHECK(after.size() == qsizetype(n) * AddressRecord::Size, QString::number(after.size()));
    FUZZ_CHECK(after.left(qsizetype(count) * AddressRecord::Size) == file.left(qsizetype(count) * AddressRecord::Size),
               QStringLiteral("an append changed earlier records"));
    const std::optional<AddressRecord> back = book.ReadRecord(n);
    FUZZ_CHECK(back && back->Live == 1 && back->Name == fuzz::expectedField(name, AddressRecord::NameWidth) &&
                   back->Address == fuzz::expectedField(address, AddressRecord::AddressWidth),
               visible(back ? back->Name : QString()) + QStringLiteral(" vs ") + visible(name));
    checkReading(book, after);

    // Deleting one entry keeps every other live record, in order, byte for byte.
    if (deleteAt >= 1 && deleteAt <= n) {
        st = book.MarkDeleted(deleteAt);
        FUZZ_CHECK(st.isOk(), st.detail());
        after[qsizetype(deleteAt - 1) * AddressRecord::Size + AddressRecord::LiveOffset] = 0;
        after[qsizetype(deleteAt - 1) * AddressRecord::Size + AddressRecord::LiveOffset + 1] = 0;
    }
    st = book.Compact();
    FUZZ_CHECK(st.isOk(), st.detail());
    QByteArray survivors;
    for (int i = 0; i < n; ++i) {
        const char* record = after.constData() + qsizetype(i) * AddressRecord::Size;
        if (common::readInt16LE(record + AddressRecord::LiveOffset) != 0)
            survivors.append(record, AddressRecord::Size);
    }
    FUZZ_CHECK(fileBytes(book.path()) == survivors, QStringLiteral("compaction lost or changed a record"));
    FUZZ_CHECK(!QFile::exists(dir.file(QStringLiteral("ZRBDATA20.TMP"))), QStringLiteral("scratch file left"));
    checkReading(book, survivors);
    return 0;
}
