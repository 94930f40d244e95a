// The message → record path: one received message through the real receive
// procedure, the mail library's MIME extraction and the received history.
#include "FuzzSupport.h"

#include "common/AppDir.h"
#include "common/FixedField.h"
#include "storage/HistoryFile.h"
#include "storage/MailRecord.h"
#include "transport/HeaderDecoder.h"
#include "transport/Mime.h"
#include "transport/NMail.h"
#include "transport/ReceiveMail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

using namespace corvidan;
using corvidan::fuzz::visible;

namespace {

const QString kAttachments = QStringLiteral("app/添付フォルダ/");
const QString kData = QStringLiteral("app/★MAilData/");

/// A server holding one message, handed over byte for byte.
class OneMessageServer : public transport::Mailbox {
public:
    explicit OneMessageServer(const QByteArray& message) : m_message(message) {}

    bool connect(const QString&) override { return true; }
    int login(const QString&, const QString&, bool) override { return 1; }
    QString uniqueId(int) override { return QStringLiteral("fuzz-uid-1"); }
    transport::MailboxFetch fetch(int) override
    {
        transport::MailboxFetch out;
        out.status = transport::MailboxFetch::Status::Ok;
        out.bytes = m_message;
        out.listedSize = m_message.size();
        return out;
    }
    bool remove(int n) override
    {
        deleted << n;
        return true;
    }
    bool close() override { return true; }
    QString error() const override { return {}; }

    QList<int> deleted;

private:
    QByteArray m_message;
};

class RecordingHost : public transport::ReceiveHost {
public:
    void setStatusLine(const QString&) override {}
    void setResultLine(const QString&) override {}
    void showNewMailPicture(const QString&) override {}
    void setAccount(const QString&, const QString&) override {}
    void requestAccount() override { fuzz::fail("account requested"); }
    void messageBox(const QString& text, const QString&) override { boxes << text; }
    void showMessage(const transport::ReceivedMessage& message) override { shown = message; }
    void setCurrentRecordNo(std::int16_t n) override { recordNo = n; }
    void setReceivedRecord(const storage::MailRecord& record) override { buffer = record; }
    void progress(int, int) override {}
    bool cancelRequested() override { return false; }

    QStringList boxes;
    transport::ReceivedMessage shown;
    std::int16_t recordNo = 0;
    storage::MailRecord buffer;
};

QString trimBlanks(const QString& text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == u' ')
        ++b;
    while (e > b && text[e - 1] == u' ')
        --e;
    return text.mid(b, e - b);
}

bool isDeviceStem(const QString& name)
{
    static const QSet<QString> devices = {QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                          QStringLiteral("NUL")};
    const QString stem = name.section(u'.', 0, 0).trimmed().toUpper();
    if (devices.contains(stem))
        return true;
    return stem.size() == 4 && (stem.startsWith(QStringLiteral("COM")) || stem.startsWith(QStringLiteral("LPT")))
           && stem[3].isDigit();
}

/// A name a user can see and open: one plain component, nothing hidden or reserved.
void checkAttachmentName(const QString& name)
{
    FUZZ_CHECK(!name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\'), visible(name));
    for (QChar c : name)
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F && !(c.unicode() >= 0x80 && c.unicode() <= 0x9F),
                   visible(name));
    FUZZ_CHECK(!name.startsWith(u'.') && !name.endsWith(u'.') && !name.endsWith(u' '), visible(name));
    FUZZ_CHECK(!isDeviceStem(name), visible(name));
    FUZZ_CHECK(name.toUtf8().size() <= 200 + 8, visible(name));
    FUZZ_CHECK(QStringView(name).isValidUtf16(), visible(name));
}

void checkTree(const QString& sandbox, const QStringList& before)
{
    const QSet<QString> known(before.begin(), before.end());
    for (const QString& entry : fuzz::treeBelow(sandbox)) {
        if (known.contains(entry))
            continue;
        if (entry.startsWith(kAttachments)) {
            const QString name = entry.mid(kAttachments.size());
            const QFileInfo info(sandbox + u'/' + entry);
            FUZZ_CHECK(info.isFile() && !info.isSymLink(), visible(entry));
            checkAttachmentName(name);
            FUZZ_CHECK(name != QStringLiteral("0.txt"), QStringLiteral("scratch message file left behind"));
            continue;
        }
        const bool history = entry.startsWith(kData + QStringLiteral("zrbdata2.data"));
        const bool seen = entry == kData + QStringLiteral("received-uids.txt");
        // Originals: the folders, the lock and one file per record, nothing left half done.
        const QString originals = kData + QStringLiteral("originals/");
        const QString original = entry.mid(originals.size() + QStringLiteral("received/").size());
        const bool kept = entry.startsWith(originals) &&
                          (QFileInfo(sandbox + u'/' + entry).isDir() || original == QStringLiteral(".lock") ||
                           QRegularExpression(QStringLiteral("^[0-9a-f]{64}\\.eml$")).match(original).hasMatch());
        FUZZ_CHECK(history || seen || kept, QStringLiteral("written outside the attachment folder: ") + visible(entry));
    }
}

void checkField(const QString& what, const QString& stored, const QString& shown, int width, bool sender = false)
{
    // A sender too long for its field loses its name first, never its address.
    const QString trimmed = trimBlanks(shown);
    const QString expected = fuzz::expectedField(sender ? transport::header::fitSender(trimmed, width) : trimmed, width);
    FUZZ_CHECK(stored == expected, what + QStringLiteral("\nstored:   ") + visible(stored) +
                                       QStringLiteral("\nexpected: ") + visible(expected));
}

void checkStored(const common::AppDir& appDir, const RecordingHost& host)
{
    using storage::MailRecord;
    const storage::HistoryFile history(appDir, storage::HistoryKind::Received);
    QFile file(history.path());
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), history.path());
    const QByteArray bytes = file.readAll();
    FUZZ_CHECK(bytes.size() == MailRecord::Size, QString::number(bytes.size()));
    FUZZ_CHECK(bytes.mid(MailRecord::LineEndOffset, 2) == "\r\n" && common::readInt16LE(bytes.constData() + MailRecord::LiveOffset) == 1,
               QStringLiteral("line end or live flag"));
    FUZZ_CHECK(host.recordNo == 1, QString::number(host.recordNo));

    const std::optional<MailRecord> record = history.ReadRecord(1);
    FUZZ_CHECK(record.has_value(), QStringLiteral("record 1 unreadable"));
    checkField(QStringLiteral("Subject"), record->Subject, host.shown.subject, MailRecord::SubjectWidth);
    checkField(QStringLiteral("Date"), record->Date, host.shown.date, MailRecord::DateWidth);
    checkField(QStringLiteral("Address"), record->Address, host.shown.from, MailRecord::AddressWidth, true);
    checkField(QStringLiteral("Body"), record->Body, host.shown.body, MailRecord::BodyWidth);
    FUZZ_CHECK(host.buffer.Subject == record->Subject && host.buffer.Body == record->Body &&
                   host.buffer.Date == record->Date && host.buffer.Address == record->Address,
               QStringLiteral("the history's buffer differs from the stored record"));

    // The listing decodes headers its own way; it must agree with the record.
    const std::vector<storage::MailHeader> headers = history.ReadAllHeaders();
    FUZZ_CHECK(headers.size() == 1, QString::number(headers.size()));
    FUZZ_CHECK(headers[0].Subject == record->Subject && headers[0].Date == record->Date &&
                   headers[0].Address == record->Address,
               QStringLiteral("listing: ") + visible(headers[0].Subject) + u'|' + visible(headers[0].Address));
}

void prepareAppDir(const QString& root)
{
    QDir().mkpath(root + QStringLiteral("/★MAilData"));
    QDir().mkpath(root + QStringLiteral("/添付フォルダ"));
    QFile account(root + QStringLiteral("/★MAilData/iniIdPass.ini"));
    if (!account.open(QIODevice::WriteOnly) || account.write("[EXEINI]\r\nNAME=user\r\nNAME2=secret\r\n") < 0)
        fuzz::fail("account file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    fuzz::Scratch sandbox;
    const QString root = sandbox.path() + QStringLiteral("/app");
    prepareAppDir(root);
    const QStringList before = fuzz::treeBelow(sandbox.path());

    OneMessageServer server(message);
    RecordingHost host;
    const common::AppDir appDir(root);
    const transport::ReceiveOutcome outcome =
        transport::ReceiveMail(appDir, {QStringLiteral("pop.example.jp"), 0}, server, host);

    FUZZ_CHECK(outcome.end == transport::ReceiveEnd::Completed && outcome.stored == 1,
               QStringLiteral("receive ended %1: %2").arg(int(outcome.end)).arg(outcome.errorText));
    FUZZ_CHECK(server.deleted == QList<int>{1}, QStringLiteral("deleted %1 messages").arg(server.deleted.size()));
    // CutAtNul reached every field. (A body labelled UTF-16 may hold a lone
    // surrogate; the record stores it as GETA MARK, which checkStored expects.)
    for (const QString* text : {&host.shown.subject, &host.shown.from, &host.shown.date, &host.shown.body})
        FUZZ_CHECK(!text->contains(QChar(u'\0')), visible(*text));
    checkTree(sandbox.path(), before);
    checkStored(appDir, host);

    // The one-pass parse on its own: display texts free of NULs, and the
    // message taken as the only piece of a split message parses as well.
    const transport::mime::Parsed parsed = transport::mime::parse(message);
    for (const QString* text : {&parsed.subject, &parsed.from, &parsed.date, &parsed.header})
        FUZZ_CHECK(!text->contains(QChar(u'\0')), visible(*text));
    if (const std::optional<QByteArray> whole = transport::mime::joinFragments({message}))
        FUZZ_CHECK(!transport::mime::parse(*whole).fragment || whole->contains("message/partial"),
                   QStringLiteral("a joined message is still a piece"));
    return 0;
}
