#include "transport/ReceiveMail.h"

#include "common/Cp932.h"
#include "common/FixedField.h"
#include "common/Text.h"
#include "storage/HistoryFile.h"
#include "storage/ProfileFile.h"
#include "transport/Attachment.h"
#include "transport/HeaderDecoder.h"
#include "transport/Mime.h"
#include "transport/NMail.h"
#include "transport/ReceivedRecord.h"
#include "transport/SeenUids.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace corvidan::transport {

using common::Status;
namespace texts = receive_texts;

namespace {

const QString CrLf = QStringLiteral("\r\n");

using common::text::trimBlanks;

/// A control character in an id would break the remembered-ids file's lines.
bool usableUid(const QString& uid)
{
    if (uid.isEmpty())
        return false;
    for (QChar c : uid)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    return true;
}

constexpr qsizetype Sha1Bytes = 20;

/// What an announced record is known by: its original's key, raw.
QByteArray recordDigest(QByteArrayView record)
{
    return QByteArray::fromHex(storage::Originals::keyOf(record).toLatin1());
}

/// A stored record's messages on the server, deleted once the record is on disk.
struct OnServer {
    int n = 0;
    QString uid; // empty when the id is not trusted
    QByteArray contentDigest; // empty until its original's checksum is known
};

/// Runs jobs in a thread of its own, in the order posted: the attachment files of
/// one message are created while the next is fetched and parsed.
class FileWriter {
public:
    FileWriter() : m_worker([this] { run(); }) {}
    ~FileWriter()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_ending = true;
        }
        m_changed.notify_all();
        m_worker.join();
    }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void post(std::function<void()> job)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_changed.notify_all();
    }
    /// Returns once every job posted so far has run.
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_ending || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_busy = true;
            lock.unlock();
            job();
            lock.lock();
            m_busy = false;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    bool m_busy = false;
    bool m_ending = false;
    std::thread m_worker;
};

/// The files one message's attachments were written to, once its job has run.
struct WrittenFiles {
    QStringList paths;
    QString failed; // the file that could not be created; then none of the message's stay
};

/// The parts of one split message seen so far in this run, by part number.
struct FragmentGroup {
    int total = 0;
    qint64 bytes = 0;
    std::map<int, std::pair<OnServer, QByteArray>> parts;
};

/// A split message is held in memory until its last part arrives; beyond these
/// its parts are stored one by one, as when a part is missing.
constexpr int MaxFragments = 1000;
constexpr qint64 MaxFragmentBytes = qint64(256) << 20;

/// One run of the receive; each step of the procedure is one member function.
class Receiver {
public:
    Receiver(const common::AppDir& appDir, const ReceiveSettings& settings, Mailbox& mailbox,
             ReceiveHost& host)
        : m_appDir(appDir), m_settings(settings), m_mailbox(mailbox), m_host(host)
    {
    }

    ReceiveOutcome run();

private:
    bool dataFolderPresent();
    bool connectAndLogin();
    void receiveAll();
    void readListing();
    bool receiveOne(int n);
    bool holdFragment(const mime::Fragment& fragment, OnServer where, QByteArray bytes);
    void keepAlone(OnServer where, QByteArray bytes);
    bool storeWholeMessage(FragmentGroup group);
    bool storeLoneFragments();
    bool storeParsed(const mime::Parsed& parsed, bool marked, QList<OnServer> where, const QByteArray& original,
                     const QString& extraLine = {});
    std::shared_ptr<WrittenFiles> writeAttachments(const mime::Parsed& parsed);
    bool appendWaiting();
    size_t appendRecords(const std::vector<QByteArray>& records, const std::vector<QList<OnServer>>& where,
                         const QStringList& keys);
    bool flushStored(bool last = false);
    bool finishSyncing();
    void dropWaiting();
    bool isStored(int recordNo, const QByteArray& digest) const;
    void reportLeftOnServer();
    void closeSession();
    void report();
    void stop(ReceiveEnd end, ReceiveNotice notice);

    const common::AppDir& m_appDir;
    const ReceiveSettings& m_settings;
    Mailbox& m_mailbox;
    ReceiveHost& m_host;

    bool m_connected = false;
    QString m_user;
    std::optional<SeenUids> m_seen;
    QStringList m_uids;        // by message number - 1
    QSet<QString> m_repeated;  // ids the listing gives more than once: trusted for nothing
    std::optional<attachment::Folder> m_folder;
    std::optional<storage::HistoryFile> m_history;
    QSet<QString> m_deletedUids;
    QHash<QByteArray, FragmentGroup> m_fragments;
    int m_aloneCount = 0;
    QList<LeftMessage> m_leftOnServer;
    // Parsed, their originals written but not yet on disk: their records wait for them.
    struct Waiting {
        QByteArray record; // as it will be stored
        QList<OnServer> where;
        std::shared_ptr<const WrittenFiles> files; // ready once m_files has drained
    };
    std::vector<Waiting> m_waiting;
    std::optional<storage::OriginalsWriter> m_originals;
    FileWriter m_files; // destroyed before the folder it writes to
    // Stored but not yet flushed to disk, so not yet remembered nor deleted.
    QList<OnServer> m_unflushed;
    QElapsedTimer m_sinceFlush;
    bool m_flushFailed = false;
    // The batch whose records and files are being flushed.
    struct Syncing {
        std::thread thread;
        Status result;
        QList<OnServer> stored;
        ~Syncing()
        {
            if (thread.joinable())
                thread.join();
        }
    };
    std::unique_ptr<Syncing> m_syncing;
    ReceiveOutcome m_out;
};

/// One flush covers the messages stored within this time: on a fast link that is
/// dozens of messages, on a slow one every message still gets its own.
constexpr qint64 FlushIntervalMs = 50;

ReceiveOutcome Receiver::run()
{
    if (!m_settings.pop3Server.isEmpty() && dataFolderPresent() && connectAndLogin()) {
        if (m_out.waiting > 0)
            receiveAll();
    }
    if (m_connected)
        closeSession();
    report();
    return m_out;
}

bool Receiver::dataFolderPresent()
{
    if (QFileInfo(m_appDir.path(common::paths::DataDir)).isDir())
        return true;
    // Nothing received could be kept, and the account file lives there too: asking
    // for an account that cannot be saved would repeat at every receive without a word why.
    stop(ReceiveEnd::NoDataFolder, {ReceiveProblem::DataFolderMissing, {}, {}, {}, {}});
    return false;
}

bool Receiver::connectAndLogin()
{
    m_connected = m_mailbox.connect(m_settings.pop3Server);
    m_host.setStatusLine(QString::fromUtf16(texts::Checking));
    if (!m_connected && m_host.cancelRequested()) {
        m_out.end = ReceiveEnd::Cancelled; // the user's own stop is no error
        return false;
    }
    if (!m_connected) {
        // "新着メール無し。" alone would pass a server that was never reached
        // (wrong name, no network, an untrusted certificate) off as an empty mailbox.
        stop(ReceiveEnd::NoConnection,
             {ReceiveProblem::ConnectFailed, m_mailbox.error(), {}, m_settings.pop3Server, {}});
        return false;
    }
    m_user = storage::ReadAccountValue(m_appDir, QStringLiteral("NAME"));
    const QString password = storage::ReadAccountValue(m_appDir, QStringLiteral("NAME2"));
    m_host.setAccount(m_user, password);
    if (m_user.isEmpty() || password.isEmpty()) {
        m_out.end = ReceiveEnd::NoAccount;
        m_out.problem.problem = ReceiveProblem::NoAccount;
        m_host.requestAccount();
        return false;
    }
    m_out.waiting = m_mailbox.login(m_user, password, m_settings.apopFlag != 0);
    if (m_out.waiting < 0 && m_host.cancelRequested()) {
        m_out.end = ReceiveEnd::Cancelled;
        return false;
    }
    if (m_out.waiting < 0) {
        stop(ReceiveEnd::AuthFailed, {ReceiveProblem::LoginFailed, m_mailbox.error(), {}, {}, {}});
        return false;
    }
    m_out.end = ReceiveEnd::Completed;
    return true;
}

void Receiver::readListing()
{
    QHash<QString, int> seenCount;
    m_uids.reserve(m_out.waiting);
    for (int n = 1; n <= m_out.waiting; ++n) {
        QString uid = m_mailbox.uniqueId(n);
        if (!usableUid(uid))
            uid.clear();
        if (!uid.isEmpty() && ++seenCount[uid] == 2)
            m_repeated.insert(uid);
        m_uids.append(uid);
    }
}

void Receiver::receiveAll()
{
    // The folder is delivered with the program; recreate it rather than lose attachments.
    QDir().mkpath(m_appDir.path(common::paths::AttachmentFolder));
    m_folder.emplace(m_appDir.path(common::paths::AttachmentFolder));
    m_history.emplace(m_appDir, storage::HistoryKind::Received);
    m_history->deferFlushes();
    m_originals.emplace(*m_history->originals());
    m_sinceFlush.start();
    m_seen.emplace(SeenUids::pathIn(m_appDir), m_settings.pop3Server, m_user);
    if (!m_seen->load())
        m_seen.reset(); // unreadable: receive without the protection rather than not at all
    else
        (void)m_seen->resolveIntents([this](int recordNo, const QByteArray& digest) {
            return isStored(recordNo, digest);
        });
    readListing();
    bool going = true;
    for (int n = 1; going && n <= m_out.waiting; ++n) {
        m_host.setStatusLine(QString::fromUtf16(texts::Checking) +
                             QString::fromUtf16(texts::CheckingProgress).arg(n).arg(m_out.waiting));
        m_host.progress(n, m_out.waiting);
        going = receiveOne(n);
        if (going && n < m_out.waiting && m_host.cancelRequested()) {
            m_out.end = ReceiveEnd::Cancelled;
            going = false;
        }
    }
    // Parts of a split message whose siblings never came are kept one by one;
    // a run that stopped early leaves them on the server for the next one.
    if (going && !m_fragments.isEmpty())
        storeLoneFragments();
    // However the loop ended, what was stored is made safe and deleted.
    flushStored(true);
    reportLeftOnServer();
    m_host.setStatusLine(QString::fromUtf16(texts::Checking));
}

bool Receiver::receiveOne(int n)
{
    MailboxFetch fetched = m_mailbox.fetch(n);
    switch (fetched.status) {
    case MailboxFetch::Status::Ok:
        break;
    case MailboxFetch::Status::TooBig:
        m_leftOnServer << LeftMessage{n, true, fetched.listedSize, {}};
        ++m_out.leftOnServer;
        return true;
    case MailboxFetch::Status::Refused:
        m_leftOnServer << LeftMessage{n, false, fetched.listedSize, fetched.error};
        ++m_out.leftOnServer;
        return true;
    case MailboxFetch::Status::Cancelled:
        m_out.end = ReceiveEnd::Cancelled;
        return false;
    case MailboxFetch::Status::Failed:
        // Storing a half-fetched message would put a broken record in the history.
        stop(ReceiveEnd::FetchFailed,
             {ReceiveProblem::FetchFailed, fetched.error.isError() ? fetched.error : m_mailbox.error(), {}, {}, {}});
        return false;
    }
    const QString& uid = m_uids.value(n - 1);
    OnServer where{n, m_repeated.contains(uid) ? QString() : uid, {}};
    if (!where.uid.isEmpty() && m_seen && m_seen->holds(where.uid, fetched.bytes)) {
        // Stored by a run whose deletions the server never applied: same id, same bytes.
        m_mailbox.remove(n);
        m_deletedUids.insert(where.uid);
        ++m_out.duplicates;
        return true;
    }
    const mime::Parsed parsed = mime::parse(fetched.bytes);
    if (parsed.fragment) {
        // Its original will be the joined message: its own digest is taken here.
        where.contentDigest = SeenUids::digestOf(fetched.bytes);
        return holdFragment(*parsed.fragment, std::move(where), std::move(fetched.bytes));
    }
    return storeParsed(parsed, MentionsAttachment(fetched.bytes), {where}, fetched.bytes);
}

bool Receiver::holdFragment(const mime::Fragment& fragment, OnServer where, QByteArray bytes)
{
    // Only the last piece need say how many there are (total 0 in the others).
    const auto known = m_fragments.constFind(fragment.id);
    const int total = known == m_fragments.cend() || fragment.total > 0 ? fragment.total : known->total;
    const bool fits = fragment.number >= 1 && fragment.number <= MaxFragments && total >= 0 && total <= MaxFragments &&
                      (total == 0 || fragment.number <= total) &&
                      (known == m_fragments.cend() ||
                       ((known->total == 0 || fragment.total == 0 || known->total == fragment.total) &&
                        !known->parts.count(fragment.number) && known->bytes + bytes.size() <= MaxFragmentBytes));
    if (!fits) {
        // Kept on its own rather than joined with parts it does not match.
        keepAlone(std::move(where), std::move(bytes));
        return true;
    }
    FragmentGroup& group = m_fragments[fragment.id];
    group.total = total;
    group.bytes += bytes.size();
    group.parts.emplace(fragment.number, std::make_pair(std::move(where), std::move(bytes)));
    if (group.total == 0 || int(group.parts.size()) < group.total)
        return true;
    return storeWholeMessage(m_fragments.take(fragment.id));
}

void Receiver::keepAlone(OnServer where, QByteArray bytes)
{
    FragmentGroup& alone = m_fragments[QByteArray("\0alone ", 7) + QByteArray::number(++m_aloneCount)];
    alone.total = 1;
    alone.parts.emplace(1, std::make_pair(std::move(where), std::move(bytes)));
}

bool Receiver::storeWholeMessage(FragmentGroup group)
{
    QList<QByteArray> pieces;
    QList<OnServer> where;
    for (const auto& [number, part] : group.parts) {
        pieces << part.second;
        where << part.first;
    }
    const std::optional<QByteArray> joined = mime::joinFragments(pieces);
    if (!joined) {
        for (auto& [number, part] : group.parts)
            keepAlone(std::move(part.first), std::move(part.second));
        return true;
    }
    group.parts.clear();
    pieces.clear();
    const mime::Parsed parsed = mime::parse(*joined);
    return storeParsed(parsed, MentionsAttachment(*joined), where, *joined);
}

bool Receiver::storeLoneFragments()
{
    m_host.notify({ReceiveProblem::PartsMissing, {}, {}, {}, {}});
    const QList<QByteArray> ids = m_fragments.keys();
    for (const QByteArray& id : ids) {
        const FragmentGroup group = m_fragments.take(id);
        for (const auto& [number, part] : group.parts) {
            const mime::Parsed parsed = mime::parse(part.second);
            // The part's own bytes go to the attachment folder, so deleting it on the
            // server loses nothing of a message that may yet be completed by hand.
            const QString name = (parsed.subject.isEmpty() ? QStringLiteral("message") : parsed.subject) +
                                 QStringLiteral(" (%1-%2).eml").arg(parsed.fragment ? parsed.fragment->number : number)
                                     .arg(parsed.fragment ? parsed.fragment->total : 1);
            m_files.wait(); // the folder is the writer's while it runs
            const QString path = m_folder->write(name, "message/partial", part.second);
            if (path.isEmpty()) {
                stop(ReceiveEnd::StoreFailed, {ReceiveProblem::AttachmentNotWritten, {}, {}, m_folder->error(), {}});
                return false;
            }
            const QString line = QString::fromUtf16(texts::FragmentSaved).arg(QFileInfo(path).fileName());
            if (!storeParsed(parsed, false, {part.first}, part.second, line))
                return false;
        }
    }
    return true;
}

/// Queues the message's attachments for the file writer. Whether they could be
/// written is known at the next flush, before the message's record is stored.
std::shared_ptr<WrittenFiles> Receiver::writeAttachments(const mime::Parsed& parsed)
{
    auto files = std::make_shared<WrittenFiles>();
    if (parsed.attachments.isEmpty())
        return files;
    m_files.post([folder = &*m_folder, files, attachments = parsed.attachments] {
        for (const mime::Attachment& file : attachments) {
            const QString path = folder->write(file.name, file.type, file.data);
            if (path.isEmpty()) {
                // The message stays on the server; what it already wrote would come again.
                for (const QString& done : std::as_const(files->paths))
                    QFile::remove(done);
                files->paths.clear();
                files->failed = folder->error();
                return;
            }
            files->paths << path;
        }
    });
    return files;
}

bool Receiver::storeParsed(const mime::Parsed& parsed, bool marked, QList<OnServer> where, const QByteArray& original,
                           const QString& extraLine)
{
    std::shared_ptr<WrittenFiles> files = writeAttachments(parsed);
    // The notice promises files in the folder: a message whose files cannot all be
    // written gets no record.
    const ReceivedMessage message = ReceivedMessageFor(parsed, marked && !parsed.attachments.isEmpty(), extraLine);
    m_host.showMessage(message);
    storage::MailRecord record = ReceivedRecordFor(message);
    record.Live = 1;
    QByteArray bytes = record.toBytes();
    m_originals->Write(bytes, original); // shared, not copied
    m_waiting.push_back({std::move(bytes), std::move(where), std::move(files)});
    return m_sinceFlush.elapsed() < FlushIntervalMs || flushStored();
}

/// The waiting originals go to disk together, then their records are appended:
/// no record ever names an original that is not on disk.
bool Receiver::appendWaiting()
{
    if (m_waiting.empty())
        return true;
    const std::vector<Waiting> waiting = std::exchange(m_waiting, {});
    m_files.wait();
    const auto removeAttachments = [&](size_t from) {
        for (size_t i = from; i < waiting.size(); ++i)
            for (const QString& done : waiting[i].files->paths)
                QFile::remove(done);
    };
    // Stored up to the first message whose files could not be written.
    size_t whole = 0;
    while (whole < waiting.size() && waiting[whole].files->failed.isEmpty())
        ++whole;
    QStringList keys;
    QByteArrayList sums;
    if (const Status kept = m_originals->Commit(&keys, &sums); !kept) {
        removeAttachments(0);
        stop(ReceiveEnd::StoreFailed, {ReceiveProblem::RecordNotStored, {}, kept, {}, {}});
        return false;
    }
    std::vector<QByteArray> records;
    std::vector<QList<OnServer>> where;
    for (size_t i = 0; i < whole; ++i) {
        records.push_back(waiting[i].record);
        where.push_back(waiting[i].where);
        // A whole message's digest is its original's checksum, taken by the writer.
        if (where.back().size() == 1 && where.back()[0].contentDigest.isEmpty())
            where.back()[0].contentDigest = sums.value(qsizetype(i));
    }
    const size_t stored = records.empty() ? 0 : appendRecords(records, where, keys);
    for (size_t i = 0; i < stored; ++i)
        m_unflushed << where[i];
    m_out.stored += static_cast<int>(stored);
    if (stored == waiting.size())
        return true;
    removeAttachments(stored);
    m_history->originals()->LeaveForCollection(); // their originals are named by nothing
    if (stored == whole)
        stop(ReceiveEnd::StoreFailed,
             {ReceiveProblem::AttachmentNotWritten, {}, {}, waiting[whole].files->failed, {}});
    return false;
}

/// A message is deleted on the server only once its record (and its attachments)
/// is on disk; its id is remembered only then too, or a power loss could keep the
/// id of a record that never reached the disk and skip the message for good.
///
/// The records and files of a batch are flushed in a thread of their own while the
/// next batch is fetched and stored; its messages are deleted at the next flush, or
/// at the last, which waits for it.
bool Receiver::flushStored(bool last)
{
    if (!finishSyncing()) {
        dropWaiting();
        return false;
    }
    const bool appended = appendWaiting();
    if (!m_unflushed.isEmpty()) {
        auto syncing = std::make_unique<Syncing>();
        syncing->stored = std::exchange(m_unflushed, {});
        syncing->thread = std::thread([history = m_history->TakeFlush(), files = m_folder->takeSync(),
                                       out = &syncing->result] {
            // Both wait on the device together.
            Status attachments;
            std::thread other([&] { attachments = files(); });
            *out = history();
            other.join();
            if (*out && !attachments)
                *out = attachments;
        });
        m_syncing = std::move(syncing);
    }
    m_sinceFlush.restart();
    if (last && !finishSyncing())
        return false;
    return appended;
}

/// Waits for the batch being flushed; once it is on disk its messages are
/// remembered and deleted. False when it could not be flushed.
bool Receiver::finishSyncing()
{
    if (!m_syncing)
        return !m_flushFailed;
    m_syncing->thread.join();
    const std::unique_ptr<Syncing> done = std::move(m_syncing);
    if (!done->result) {
        // The messages stay on the server; their announced records (kept at the
        // close) keep the next receive from storing them twice.
        m_flushFailed = true;
        if (m_out.completed())
            stop(ReceiveEnd::StoreFailed, {ReceiveProblem::RecordNotStored, {}, done->result, {}, {}});
        return false;
    }
    if (m_seen)
        m_seen->hold();
    for (const OnServer& one : std::as_const(done->stored)) {
        if (m_seen && !one.uid.isEmpty())
            (void)m_seen->remember(one.uid, one.contentDigest); // a failure only risks a duplicate
    }
    // Remembered before the deletions are asked for: a failure only risks a duplicate.
    if (m_seen)
        (void)m_seen->writeHeld();
    for (const OnServer& one : std::as_const(done->stored)) {
        m_mailbox.remove(one.n);
        if (!one.uid.isEmpty())
            m_deletedUids.insert(one.uid);
    }
    return true;
}

/// Stored messages that will get no record after all: their files go, their
/// originals were never committed.
void Receiver::dropWaiting()
{
    m_files.wait();
    for (const Waiting& one : std::exchange(m_waiting, {}))
        for (const QString& done : one.files->paths)
            QFile::remove(done);
}

/// Appends the records with one write; returns how many are in the history.
size_t Receiver::appendRecords(const std::vector<QByteArray>& records, const std::vector<QList<OnServer>>& where,
                               const QStringList& keys)
{
    // The records are in the file the moment they are written, before remember() can
    // run: announce them, so a run killed in between does not store them twice. The
    // digest is the key their originals were just written under: hashing 32 KB
    // records a second time cost a tenth of the receive.
    if (const std::optional<std::int16_t> next = m_history->NextRecordNo(); next && m_seen) {
        m_seen->hold();
        for (size_t i = 0; i < records.size(); ++i) {
            const QByteArray digest =
                i < size_t(keys.size()) ? QByteArray::fromHex(keys[int(i)].toLatin1()) : recordDigest(records[i]);
            for (const OnServer& one : where[i])
                if (!one.uid.isEmpty())
                    (void)m_seen->intend(one.uid, static_cast<int>(*next + i), digest, one.contentDigest);
        }
        (void)m_seen->writeHeld();
    }
    std::int16_t first = 0;
    Status st = m_history->AppendStoredRecords(records, &first);
    size_t stored = st ? records.size() : 0;
    if (st) {
        for (size_t i = 0; i < stored; ++i)
            m_host.setCurrentRecordNo(static_cast<std::int16_t>(first + i));
    } else if (records.size() > 1) {
        // A disk nearly full still takes the records that fit, one at a time.
        for (; stored < records.size(); ++stored) {
            std::int16_t n = 0;
            if (st = m_history->AppendStoredRecords({records[stored]}, &n); !st)
                break;
            m_host.setCurrentRecordNo(n);
        }
    }
    // The reply window reads only the last one, as the history now holds it.
    if (stored > 0)
        m_host.setReceivedRecord(storage::MailRecord::fromBytes(records[stored - 1].constData()));
    if (!st)
        stop(ReceiveEnd::StoreFailed, {ReceiveProblem::RecordNotStored, {}, st, {}, {}});
    return stored;
}

bool Receiver::isStored(int recordNo, const QByteArray& digest) const
{
    QFile file(m_history->path());
    if (recordNo < 1 || !file.open(QIODevice::ReadOnly) ||
        !file.seek(qint64(recordNo - 1) * storage::MailRecord::Size))
        return false;
    const QByteArray bytes = file.read(storage::MailRecord::Size);
    if (bytes.size() != storage::MailRecord::Size)
        return false;
    // Earlier versions announced a SHA-1 of the whole record.
    return digest.size() == Sha1Bytes ? QCryptographicHash::hash(bytes, QCryptographicHash::Sha1) == digest
                                      : recordDigest(bytes) == digest;
}

void Receiver::reportLeftOnServer()
{
    if (m_leftOnServer.isEmpty())
        return;
    m_host.notify({ReceiveProblem::LeftOnServer, {}, {}, {}, m_leftOnServer});
}

void Receiver::closeSession()
{
    QSet<QString> pending;
    if (m_seen) {
        // Ids still on the server and not deleted now stay remembered.
        for (const QString& uid : std::as_const(m_uids))
            if (m_seen->knows(uid) && !m_deletedUids.contains(uid))
                pending.insert(uid);
        (void)m_seen->sync(); // the ids must be on disk before the server applies deletions
    }
    // A refused DELE or a QUIT never answered: some stored messages are still on
    // the server, and only their remembered ids keep the next run from storing them again.
    const bool allDeleted = m_mailbox.close();
    m_connected = false;
    if (!allDeleted && m_out.completed() && m_out.stored + m_out.duplicates > 0)
        m_host.notify({ReceiveProblem::DeletionUnconfirmed, m_mailbox.error(), {}, {}, {}});
    if (m_seen && allDeleted && !m_flushFailed)
        (void)m_seen->keepOnly(pending);
    // An empty mailbox holds none of the remembered messages: a run killed after the
    // server applied its deletions leaves ids that nothing else would ever prune.
    if (!m_seen && allDeleted && m_out.waiting == 0 && QFile::exists(SeenUids::pathIn(m_appDir))) {
        SeenUids seen(SeenUids::pathIn(m_appDir), m_settings.pop3Server, m_user);
        if (seen.load()) {
            (void)seen.resolveIntents([](int, const QByteArray&) { return false; });
            (void)seen.keepOnly({});
        }
    }
}

void Receiver::report()
{
    if (m_settings.pop3Server.isEmpty()) {
        m_out.end = ReceiveEnd::NoServer;
        m_out.problem.problem = ReceiveProblem::NoServer;
    }
    if (m_out.stored < 1) {
        m_out.resultLine = QString::fromUtf16(texts::NoNewMail);
    } else {
        m_out.resultLine = QString::number(m_out.stored) + QString::fromUtf16(texts::NewMailSuffix);
        m_host.showNewMailPicture(m_appDir.path(common::paths::NewMailPicture));
    }
    m_host.setResultLine(m_out.resultLine);
}

void Receiver::stop(ReceiveEnd end, ReceiveNotice notice)
{
    m_out.end = end;
    m_out.problem = std::move(notice);
    m_host.notify(m_out.problem);
}

} // namespace

ReceiveOutcome ReceiveMail(const common::AppDir& appDir, const ReceiveSettings& settings,
                           Mailbox& mailbox, ReceiveHost& host)
{
    (void)storage::CollectOrphanedOriginals(appDir);
    return Receiver(appDir, settings, mailbox, host).run();
}

qint64 ReadMaxMessageBytes(const common::AppDir& appDir, qint64 fallback)
{
    const QString value = storage::ReadProfileString(appDir.path(u"\\★MAilData\\receive.ini"),
                                                     QStringLiteral("RECEIVE"), QStringLiteral("MaxMessageMB"));
    bool ok = false;
    const qint64 megabytes = value.trimmed().toLongLong(&ok);
    // Up to 4 GiB: a bound is still a bound.
    return ok && megabytes > 0 && megabytes <= 4096 ? megabytes << 20 : fallback;
}

// NMailMailbox: the library's session behind the receive's own calls.

bool NMailMailbox::connect(const QString& server)
{
    m_session = m_mail.NMailPop3Connect(server);
    return m_session != -1;
}

int NMailMailbox::login(const QString& id, const QString& password, bool apop)
{
    return m_mail.NMailPop3Authenticate(m_session, id, password, apop ? -1 : 0);
}

QString NMailMailbox::uniqueId(int n) { return m_mail.Pop3UniqueId(m_session, n); }

MailboxFetch NMailMailbox::fetch(int n) { return m_mail.Pop3Fetch(m_session, n); }

bool NMailMailbox::remove(int n) { return m_mail.NMailPop3DeleteMail(m_session, n) >= 0; }

bool NMailMailbox::close()
{
    const int closed = m_mail.NMailPop3Close(m_session);
    m_session = -1;
    return closed >= 0 && m_mail.Pop3LastCloseConfirmed();
}

NetError NMailMailbox::error() const { return m_mail.lastNetError(); }

} // namespace corvidan::transport
