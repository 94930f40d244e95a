// The message → record path: one received message through the real receive
// procedure, the mail library's MIME extraction and the received history.
#include "FuzzSupport.h"

#include "common/AppDir.h"
#include "common/FixedField.h"
#include "storage/HistoryFile.h"
#include "storage/MailRecord.h"
#include "support/ScriptedMailbox.h"
#include "transport/HeaderDecoder.h"
#include "transport/Mime.h"
#include "transport/NMail.h"
#include "transport/ReceiveMail.h"

#include <QDir>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

using namespace corvidan;
using corvidan::fuzz::visible;

namespace {

const QString kAttachments = QStringLiteral("app/添付フォルダ/");
const QString kData = QStringLiteral("app/★MAilData/");

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
        // Originals: the folders, the lock and one pack, nothing left half done.
        const QString originals = kData + QStringLiteral("originals/");
        const QString original = entry.mid(originals.size() + QStringLiteral("received/").size());
        const bool kept = entry.startsWith(originals) &&
                          (QFileInfo(sandbox + u'/' + entry).isDir() || original == QStringLiteral(".lock") ||
                           QRegularExpression(QStringLiteral("^[0-9]{13}-[0-9]+-[0-9]+\\.pack$")).match(original).hasMatch());
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

void checkStored(const common::AppDir& appDir, const test::RecordingReceiveHost& host)
{
    using storage::MailRecord;
    const storage::HistoryFile history(appDir, storage::HistoryKind::Received);
    QFile file(history.path());
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), history.path());
    const QByteArray bytes = file.readAll();
    FUZZ_CHECK(bytes.size() == MailRecord::Size, QString::number(bytes.size()));
    FUZZ_CHECK(bytes.mid(MailRecord::LineEndOffset, 2) == "\r\n" && common::readInt16LE(bytes.constData() + MailRecord::LiveOffset) == 1,
               QStringLiteral("line end or live flag"));
    FUZZ_CHECK(host.currentRecordNo == 1, QString::number(host.currentRecordNo));
    FUZZ_CHECK(host.shown.size() == 1, QStringLiteral("shown %1 messages").arg(host.shown.size()));
    const transport::ReceivedMessage& shown = host.shown[0];

    const std::optional<MailRecord> record = history.ReadRecord(1);
    FUZZ_CHECK(record.has_value(), QStringLiteral("record 1 unreadable"));
    checkField(QStringLiteral("Subject"), record->Subject, shown.subject, MailRecord::SubjectWidth);
    checkField(QStringLiteral("Date"), record->Date, shown.date, MailRecord::DateWidth);
    checkField(QStringLiteral("Address"), record->Address, shown.from, MailRecord::AddressWidth, true);
    checkField(QStringLiteral("Body"), record->Body, shown.body, MailRecord::BodyWidth);
    const MailRecord& buffer = host.receivedRecord;
    FUZZ_CHECK(buffer.Subject == record->Subject && buffer.Body == record->Body && buffer.Date == record->Date
                   && buffer.Address == record->Address,
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

    // A server holding the one message, handed over byte for byte.
    test::ScriptedMailbox server;
    server.box.push_back({QStringLiteral("fuzz-uid-1"), message});
    test::RecordingReceiveHost host;
    const common::AppDir appDir(root);
    const transport::ReceiveOutcome outcome =
        transport::ReceiveMail(appDir, {QStringLiteral("pop.example.jp"), 0}, server, host);

    FUZZ_CHECK(outcome.end == transport::ReceiveEnd::Completed && outcome.stored == 1,
               QStringLiteral("receive ended %1: notice %2").arg(int(outcome.end)).arg(int(outcome.problem.problem)));
    FUZZ_CHECK(!host.accountRequested, QStringLiteral("account requested"));
    const auto deletions = std::count_if(server.log.begin(), server.log.end(),
                                         [](const QString& call) { return call.startsWith(QStringLiteral("dele ")); });
    FUZZ_CHECK(deletions == 1 && server.called(QStringLiteral("dele 1")) && server.box.empty(),
               QStringLiteral("deleted %1 messages").arg(deletions));
    checkTree(sandbox.path(), before);
    checkStored(appDir, host);
    // CutAtNul reached every field. (A body labelled UTF-16 may hold a lone
    // surrogate; the record stores it as GETA MARK, which checkStored expects.)
    const transport::ReceivedMessage& shown = host.shown[0];
    for (const QString* text : {&shown.subject, &shown.from, &shown.date, &shown.body})
        FUZZ_CHECK(!text->contains(QChar(u'\0')), visible(*text));

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
