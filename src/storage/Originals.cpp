#include "storage/Originals.h"

#include "common/Durable.h"
#include "storage/HistoryFile.h"
#include "storage/MailRecord.h"
#include "storage/RecordFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace corvidan::storage {

using common::ErrorCode;
using common::Status;
using detail::Fd;
using detail::errnoStatus;
using detail::nativePath;

namespace {

const QString kSuffix = QStringLiteral(".eml"); // the earlier layout: one file per original
const QString kPackSuffix = QStringLiteral(".pack");
const QString kTempSuffix = QStringLiteral(".part");
const QString kMarkerPrefix = QStringLiteral(".pass-");
const QString kLockName = QStringLiteral(".lock");
// Bigger than any message a receive may fetch (4 GiB): an entry past it is no original.
constexpr qint64 kMaxOriginal = (qint64(4096) << 20) + (qint64(1) << 20);
// A pass appends to the newest pack while it is smaller than this, so packs stay
// few however often mail is checked, and none grows without end.
constexpr qint64 kPackReuseLimit = qint64(64) << 20;

// "CVO1" live-or-deleted ' ' key ' ' length ' ' checksum ' ' kind, spaces, '\n'.
// The kind says what the key was taken of: 'T' the record without its trailing
// blanks; a blank (entries written before the kind existed) the whole record.
constexpr qint64 kHeaderSize = 160;
constexpr int kStateAt = 4, kKeyAt = 6, kLengthAt = 71, kSumAt = 88, kKindAt = 153;
constexpr int kKeyLength = 64, kLengthDigits = 16, kSumLength = 64;
constexpr char kLive = 'L', kDeleted = 'D', kTrimmedKey = 'T';

std::atomic<int> g_serial{0};

struct Header {
    char state = 0;
    QString key;
    qint64 length = 0;
    QByteArray sum;
    bool wholeRecordKey = false;
};

bool isLowerHex(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

QByteArray checksumOf(QByteArrayView message)
{
    return QCryptographicHash::hash(message, QCryptographicHash::Blake2b_256);
}

QByteArray headerFor(const QString& key, qint64 length, const QByteArray& sum)
{
    QByteArray h = QByteArrayLiteral("CVO1") + kLive + ' ' + key.toLatin1() + ' ' +
                   QByteArray::number(length, 16).rightJustified(kLengthDigits, '0') + ' ' + sum + ' ' + kTrimmedKey;
    return h.leftJustified(kHeaderSize - 1, ' ') + '\n';
}

/// A header as written, or nothing: what is torn or foreign ends a pack's scan.
std::optional<Header> parseHeader(QByteArrayView h)
{
    if (h.size() != kHeaderSize || !h.startsWith("CVO1") || h[kKeyAt - 1] != ' ' || h[kLengthAt - 1] != ' ' ||
        h[kSumAt - 1] != ' ' || h[kHeaderSize - 1] != '\n' || (h[kStateAt] != kLive && h[kStateAt] != kDeleted))
        return std::nullopt;
    const QByteArrayView key = h.sliced(kKeyAt, kKeyLength), length = h.sliced(kLengthAt, kLengthDigits),
                         sum = h.sliced(kSumAt, kSumLength);
    if (!isLowerHex(key) || !isLowerHex(length) || !isLowerHex(sum))
        return std::nullopt;
    const qint64 n = length.toLongLong(nullptr, 16);
    if (n < 0 || n > kMaxOriginal)
        return std::nullopt;
    return Header{h[kStateAt], QString::fromLatin1(key), n, sum.toByteArray(), h[kKindAt] != kTrimmedKey};
}

/// Calls `each` for every whole entry from `from` on (`from` must start one) until it
/// answers false; returns where the first torn or foreign one starts, or the size.
/// Linear in the entries, whatever a header claims: a length past the end stops it.
qint64 scanEntries(int fd, qint64 size, qint64 from, const std::function<bool(const Header&, qint64 at)>& each)
{
    QByteArray buf(kHeaderSize, Qt::Uninitialized);
    qint64 at = from;
    while (size - at >= kHeaderSize) {
        if (detail::readAt(fd, buf.data(), kHeaderSize, at) != kHeaderSize)
            break;
        const std::optional<Header> h = parseHeader(buf);
        if (!h || h->length > size - at - kHeaderSize)
            break;
        if (!each(*h, at))
            break;
        at += kHeaderSize + h->length;
    }
    return at;
}

qint64 sizeOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

/// The message of the entry at `at` if it is still live under `key` and whole.
std::optional<QByteArray> readEntry(int fd, qint64 at, const QString& key)
{
    QByteArray buf(kHeaderSize, Qt::Uninitialized);
    if (detail::readAt(fd, buf.data(), kHeaderSize, at) != kHeaderSize)
        return std::nullopt;
    const std::optional<Header> h = parseHeader(buf);
    if (!h || h->state != kLive || h->key != key || h->length > sizeOf(fd) - at - kHeaderSize)
        return std::nullopt;
    QByteArray message(static_cast<qsizetype>(h->length), Qt::Uninitialized);
    if (detail::readAt(fd, message.data(), h->length, at + kHeaderSize) != h->length)
        return std::nullopt;
    // A batch torn by a kill may have left a header over bytes never written.
    if (checksumOf(message).toHex() != h->sum)
        return std::nullopt;
    return message;
}

Status writeAll(int fd, QByteArrayView data, qint64 at, const QString& path)
{
    return detail::writeAt(fd, data.data(), data.size(), at, path);
}

/// Marks the entry at `at` deleted and gives its message's blocks back; what the
/// file system cannot punch out is overwritten, so the bytes are gone either way.
Status deleteEntry(int fd, qint64 at, qint64 length, const QString& path)
{
    const char mark = kDeleted;
    if (Status st = detail::writeAt(fd, &mark, 1, at + kStateAt, path); !st)
        return st;
    if (length == 0 ||
        ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at + kHeaderSize, length) == 0)
        return Status::ok();
    const QByteArray zeros(static_cast<qsizetype>(std::min<qint64>(length, 1 << 16)), '\0');
    for (qint64 done = 0; done < length; done += zeros.size()) {
        if (Status st = detail::writeAt(fd, zeros.constData(), std::min<qint64>(zeros.size(), length - done),
                                        at + kHeaderSize + done, path);
            !st)
            return st;
    }
    return Status::ok();
}

bool hasLiveEntry(int fd)
{
    bool live = false;
    scanEntries(fd, sizeOf(fd), 0, [&](const Header& h, qint64) { return !(live = h.state == kLive); });
    return live;
}

QStringList packNames(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*") + kPackSuffix}, QDir::Files | QDir::Hidden, QDir::Name);
}

/// Unlinks a pack nobody writes to: the caller's descriptor must be the file the
/// name gives, and no pass may hold it.
bool unlinkIdlePack(int fd, const QString& path)
{
    struct stat mine {}, named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &mine) != 0 ||
        ::lstat(nativePath(path).constData(), &named) != 0 || mine.st_ino != named.st_ino ||
        mine.st_dev != named.st_dev)
        return false;
    return ::unlink(nativePath(path).constData()) == 0;
}

std::optional<QByteArray> readWhole(const QString& path)
{
    const int raw = ::open(nativePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (raw < 0)
        return std::nullopt;
    Fd fd(raw);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxOriginal)
        return std::nullopt;
    QByteArray out(static_cast<qsizetype>(st.st_size), Qt::Uninitialized);
    if (detail::readAt(fd.get(), out.data(), out.size(), 0) != out.size())
        return std::nullopt;
    return out;
}

/// Where each key's entries are, per folder, for this process: packs only grow
/// while a pass writes them, so a look-up reads only the headers appended since
/// the last one. Whether an entry is still live is read from the pack each time.
class Locations {
public:
    struct Place {
        QString pack;
        qint64 at;
    };
    static std::vector<Place> of(const QString& folder, const QString& key)
    {
        const std::lock_guard<std::mutex> lock(s_mutex);
        Folder& f = refreshed(folder);
        std::vector<Place> out;
        for (const auto& [name, pack] : f.packs) {
            for (const qint64 at : pack.byKey.value(key))
                out.push_back({folder + u'/' + name, at});
        }
        return out;
    }
    /// The places of many keys with one look at the folder.
    static QHash<QString, std::vector<Place>> of(const QString& folder, const QStringList& keys)
    {
        const std::lock_guard<std::mutex> lock(s_mutex);
        Folder& f = refreshed(folder);
        QHash<QString, std::vector<Place>> out;
        for (const QString& key : keys) {
            std::vector<Place>& places = out[key];
            for (const auto& [name, pack] : f.packs) {
                for (const qint64 at : pack.byKey.value(key))
                    places.push_back({folder + u'/' + name, at});
            }
        }
        return out;
    }
    /// True when a pack holds a live entry named by the whole record's key.
    static bool holdsWholeRecordKeys(const QString& folder)
    {
        const std::lock_guard<std::mutex> lock(s_mutex);
        for (const auto& [name, pack] : refreshed(folder).packs) {
            if (pack.wholeRecordKeys > 0)
                return true;
        }
        return false;
    }
    static QSet<QString> keys(const QString& folder)
    {
        const std::lock_guard<std::mutex> lock(s_mutex);
        QSet<QString> out;
        for (const auto& [name, pack] : refreshed(folder).packs) {
            for (auto it = pack.byKey.cbegin(); it != pack.byKey.cend(); ++it)
                out.insert(it.key());
        }
        return out;
    }

private:
    struct Pack {
        quint64 inode = 0;
        qint64 seenSize = 0, end = 0;
        QHash<QString, QList<qint64>> byKey;
        int wholeRecordKeys = 0; // live when scanned: an overcount only costs a second key
    };
    struct Folder {
        std::map<QString, Pack> packs; // by name: the order packs were started in
    };

    static void scan(const QString& path, Pack& pack, qint64 size)
    {
        const int raw = ::open(nativePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (raw < 0)
            return;
        const Fd fd(raw);
        const auto note = [&](const Header& h, qint64 at) {
            pack.byKey[h.key].push_back(at);
            pack.wholeRecordKeys += h.wholeRecordKey && h.state == kLive;
            return true;
        };
        const qint64 end = scanEntries(fd.get(), size, pack.end, note);
        if (end == pack.end && end < size && end > 0) {
            // Nothing new where the last scan ended: the pack was cut and written
            // again since. Once more from the start.
            pack.byKey.clear();
            pack.wholeRecordKeys = 0;
            pack.end = scanEntries(fd.get(), size, 0, note);
        } else {
            pack.end = end;
        }
        pack.seenSize = size;
    }

    static Folder& refreshed(const QString& folder)
    {
        Folder& f = s_folders[folder];
        const QStringList names = packNames(folder);
        for (auto it = f.packs.begin(); it != f.packs.end();)
            it = names.contains(it->first) ? std::next(it) : f.packs.erase(it);
        for (const QString& name : names) {
            struct stat st {};
            if (::lstat(nativePath(folder + u'/' + name).constData(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            Pack& pack = f.packs[name];
            if (pack.inode != st.st_ino || st.st_size < pack.end)
                pack = Pack{st.st_ino, 0, 0, {}, 0};
            if (st.st_size != pack.seenSize)
                scan(folder + u'/' + name, pack, st.st_size);
        }
        return f;
    }

    static inline std::mutex s_mutex;
    static inline std::map<QString, Folder> s_folders;
};

} // namespace

struct Originals::Pass {
    Fd lock;
    QString marker;
    std::mutex mutex; // the writer thread appends, the caller commits
    Fd pack;
    QString packPath;
    qint64 end = 0;       // where the next entry goes
    qint64 committed = 0; // what is known to be on disk
    bool packNamed = false;
    QSet<QString> keys;                        // written by this pass
    std::optional<QSet<QString>> keptBefore;   // in the folder when the pass first wrote
    ~Pass()
    {
        if (pack.valid()) {
            // What no commit covered will get no record.
            if (end > committed)
                (void)::ftruncate(pack.get(), committed);
            // Records deleted meanwhile may have taken every entry: the pack goes
            // now, as their removal would have done had this pass not held it.
            if (!hasLiveEntry(pack.get()))
                ::unlink(nativePath(packPath).constData());
        }
        // Everything this pass stored has its record by now, or was taken back. A lost
        // unlink only costs the next start one comparison with the history.
        if (!marker.isEmpty())
            ::unlink(nativePath(marker).constData());
    }
};

Originals::Originals(const common::AppDir& appDir, HistoryKind kind)
    : m_folder(appDir.path(kind == HistoryKind::Received ? common::paths::ReceivedOriginals
                                                         : common::paths::SentOriginals))
{
}

Originals::Originals(QString folder) : m_folder(std::move(folder)) {}

Originals::~Originals() = default;

QString Originals::keyOf(QByteArrayView recordBytes)
{
    // Fields are blank-padded to fixed widths, so the blanks before the line end
    // add nothing that the record's length does not already say; most of a record
    // is those blanks, and the key is taken of every message received.
    const QByteArrayView stored = recordBytes.first(std::min<qsizetype>(recordBytes.size(), MailRecord::LiveOffset));
    const qsizetype lineEnd = std::min<qsizetype>(stored.size(), MailRecord::LineEndOffset);
    qsizetype text = lineEnd;
    while (text > 0 && stored[text - 1] == ' ')
        --text;
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    hash.addData(stored.first(text));
    hash.addData(stored.sliced(lineEnd));
    return QString::fromLatin1(hash.result().toHex());
}

QString Originals::wholeRecordKeyOf(QByteArrayView recordBytes)
{
    const QByteArrayView stored = recordBytes.first(std::min<qsizetype>(recordBytes.size(), MailRecord::LiveOffset));
    return QString::fromLatin1(QCryptographicHash::hash(stored, QCryptographicHash::Blake2b_256).toHex());
}

QStringList Originals::NamesOf(QByteArrayView recordBytes, bool wholeRecordKeys)
{
    if (!wholeRecordKeys)
        return {keyOf(recordBytes)};
    return {keyOf(recordBytes), wholeRecordKeyOf(recordBytes)};
}

bool Originals::HoldsWholeRecordKeys() const
{
    return Locations::holdsWholeRecordKeys(m_folder) ||
           !QDir(m_folder).entryList({QStringLiteral("*") + kSuffix}, QDir::Files | QDir::Hidden).isEmpty();
}

QString Originals::fileOf(const QString& key) const
{
    return m_folder + u'/' + key + kSuffix;
}

Status Originals::ensureFolder() const
{
    if (QFileInfo(m_folder).isDir())
        return Status::ok();
    // Created one level at a time so that every new folder is the owner's alone.
    QStringList missing;
    QString at = m_folder;
    while (!QFileInfo::exists(at)) {
        missing.prepend(at);
        const QString parent = QFileInfo(at).path();
        if (parent == at)
            break;
        at = parent;
    }
    for (const QString& folder : std::as_const(missing)) {
        if (::mkdir(nativePath(folder).constData(), 0700) != 0 && errno != EEXIST)
            return errnoStatus(folder, errno);
        if (Status st = common::durable::syncParentFolder(folder); !st)
            return st;
    }
    return Status::ok();
}

Status Originals::BeginPass(bool flushMarker) const
{
    if (m_pass)
        return Status::ok();
    if (Status st = ensureFolder(); !st)
        return st;
    auto pass = std::make_shared<Pass>();
    if (Status st = detail::openForWriting(m_folder + u'/' + kLockName, O_RDWR | O_CREAT, pass->lock, 0600); !st)
        return st;
    while (::flock(pass->lock.get(), LOCK_SH) != 0) {
        if (errno != EINTR)
            return errnoStatus(m_folder, errno);
    }
    const QString marker = m_folder + u'/' + kMarkerPrefix +
                           QStringLiteral("%1-%2").arg(::getpid()).arg(g_serial.fetch_add(1));
    Fd markerFd;
    if (Status st = detail::openForWriting(marker, O_WRONLY | O_CREAT | O_EXCL, markerFd, 0600); !st)
        return st;
    pass->marker = marker;
    // The marker must be on disk before any original it covers.
    if (Status st = flushMarker ? common::durable::syncParentFolder(marker) : Status::ok(); !st)
        return st;
    m_pass = std::move(pass);
    return Status::ok();
}

void Originals::LeaveForCollection() const
{
    if (m_pass)
        m_pass->marker.clear();
}

/// The newest pack if it is small and idle, else a new one; its torn end (a killed
/// pass's uncommitted entries) is cut off before anything is appended.
Status Originals::openPack(Pass& pass) const
{
    const QStringList names = packNames(m_folder);
    if (!names.isEmpty()) {
        const QString path = m_folder + u'/' + names.last();
        const int raw = ::open(nativePath(path).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        Fd fd(raw);
        struct stat mine {}, named {};
        if (raw >= 0 && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(fd.get(), &mine) == 0 &&
            S_ISREG(mine.st_mode) && mine.st_size < kPackReuseLimit &&
            ::lstat(nativePath(path).constData(), &named) == 0 && named.st_ino == mine.st_ino) {
            const qint64 end = scanEntries(fd.get(), mine.st_size, 0, [](const Header&, qint64) { return true; });
            if (end == mine.st_size || ::ftruncate(fd.get(), end) == 0) {
                pass.pack = std::move(fd);
                pass.packPath = path;
                pass.end = pass.committed = end;
                pass.packNamed = true;
                return Status::ok();
            }
        }
    }
    // Named by the time it was started, so the names sort in that order.
    const QString path =
        m_folder + u'/' +
        QStringLiteral("%1-%2-%3").arg(QDateTime::currentMSecsSinceEpoch(), 13, 10, QChar(u'0')).arg(::getpid())
            .arg(g_serial.fetch_add(1)) + kPackSuffix;
    Fd fd;
    if (Status st = detail::openForWriting(path, O_RDWR | O_CREAT | O_EXCL, fd, 0600); !st)
        return st;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return errnoStatus(path, errno);
    pass.pack = std::move(fd);
    pass.packPath = path;
    pass.end = pass.committed = 0;
    pass.packNamed = false;
    return Status::ok();
}

Status Originals::Store(QByteArrayView recordBytes, QByteArrayView message) const
{
    std::vector<Pending> one(1);
    if (Status st = Write(recordBytes, message, one.front()); !st)
        return st;
    return Commit(one);
}

Status Originals::Write(QByteArrayView recordBytes, QByteArrayView message, Pending& pending) const
{
    return append(keyOf(recordBytes), message, pending);
}

Status Originals::append(const QString& key, QByteArrayView message, Pending& pending) const
{
    pending = Pending{key, -1, 0, checksumOf(message)};
    if (Status st = BeginPass(); !st)
        return st;
    Pass& pass = *m_pass;
    const std::lock_guard<std::mutex> lock(pass.mutex);
    if (!pass.pack.valid()) {
        if (Status st = openPack(pass); !st)
            return st;
    }
    if (!pass.keptBefore) {
        pass.keptBefore = Locations::keys(m_folder);
        for (const QString& name : QDir(m_folder).entryList({QStringLiteral("*") + kSuffix}, QDir::Files | QDir::Hidden))
            pass.keptBefore->insert(name.chopped(kSuffix.size()));
    }
    // Two records identical byte for byte decode the same from either message, and
    // the original already kept may be named by a record the user sees: it stays,
    // and this one is not kept. Replacing it would change what that record shows.
    if ((pass.keys.contains(key) || pass.keptBefore->contains(key)) && loadKey(key))
        return Status::ok();
    // One write for a usual message; a big one is not copied for it.
    QByteArray entry = headerFor(key, message.size(), pending.sum.toHex());
    const bool together = message.size() <= (qint64(256) << 10);
    if (together)
        entry.append(message);
    Status st = writeAll(pass.pack.get(), entry, pass.end, pass.packPath);
    if (st && !together)
        st = writeAll(pass.pack.get(), message, pass.end + kHeaderSize, pass.packPath);
    if (!st) {
        (void)::ftruncate(pass.pack.get(), pass.end);
        return st;
    }
    pending.offset = pass.end;
    pending.size = kHeaderSize + message.size();
    pass.end += pending.size;
    pass.keys.insert(key);
    return Status::ok();
}

void Originals::Discard(std::vector<Pending>& batch) const
{
    qint64 from = -1;
    QStringList keys;
    for (const Pending& p : batch) {
        if (p.offset >= 0 && (from < 0 || p.offset < from))
            from = p.offset;
        if (p.offset >= 0)
            keys << p.key;
    }
    batch.clear();
    if (from < 0 || !m_pass)
        return;
    Pass& pass = *m_pass;
    const std::lock_guard<std::mutex> lock(pass.mutex);
    // A batch is always the pack's end: cutting it off takes back every entry in it.
    if (from >= pass.committed && from < pass.end && ::ftruncate(pass.pack.get(), from) == 0) {
        pass.end = from;
        for (const QString& key : std::as_const(keys))
            pass.keys.remove(key); // they may be written again
    }
}

Status Originals::Commit(std::vector<Pending>& batch) const
{
    const bool wrote = std::any_of(batch.begin(), batch.end(), [](const Pending& p) { return p.offset >= 0; });
    if (!wrote) {
        batch.clear();
        return Status::ok();
    }
    if (Status st = Flush(); !st) {
        Discard(batch);
        return st;
    }
    batch.clear();
    return Status::ok();
}

Status Originals::Flush() const
{
    if (!m_pass)
        return Status::ok();
    Pass& pass = *m_pass;
    const std::lock_guard<std::mutex> lock(pass.mutex);
    if (!pass.pack.valid() || pass.end == pass.committed)
        return Status::ok();
    if (Status st = common::durable::syncDescriptor(pass.pack.get(), pass.packPath); !st)
        return st;
    if (!pass.packNamed) {
        if (Status st = common::durable::syncParentFolder(pass.packPath); !st)
            return st;
        pass.packNamed = true;
    }
    pass.committed = pass.end;
    return Status::ok();
}

std::optional<QByteArray> Originals::loadKey(const QString& key) const
{
    if (std::optional<QByteArray> whole = readWhole(fileOf(key)))
        return whole;
    for (const Locations::Place& place : Locations::of(m_folder, key)) {
        const int raw = ::open(nativePath(place.pack).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (raw < 0)
            continue;
        const Fd fd(raw);
        if (std::optional<QByteArray> message = readEntry(fd.get(), place.at, key))
            return message;
    }
    return std::nullopt;
}

std::optional<QByteArray> Originals::Load(QByteArrayView recordBytes, QString* foundKey) const
{
    QString key = keyOf(recordBytes);
    std::optional<QByteArray> message = loadKey(key);
    if (!message && HoldsWholeRecordKeys()) {
        key = wholeRecordKeyOf(recordBytes);
        message = loadKey(key);
    }
    if (message && foundKey)
        *foundKey = key;
    return message;
}

namespace {

/// Every live entry of every pack, read afresh, and the files of the earlier layout.
void forEachLive(const QString& folder, const std::function<void(const QString& key, qint64 length)>& each)
{
    for (const QString& name : packNames(folder)) {
        const int raw = ::open(nativePath(folder + u'/' + name).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (raw < 0)
            continue;
        const Fd fd(raw);
        scanEntries(fd.get(), sizeOf(fd.get()), 0, [&](const Header& h, qint64) {
            if (h.state == kLive)
                each(h.key, h.length);
            return true;
        });
    }
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*") + kSuffix}, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& file : files)
        each(file.completeBaseName(), file.size());
}

} // namespace

qint64 Originals::TotalBytes() const
{
    qint64 total = 0;
    forEachLive(m_folder, [&](const QString&, qint64 length) { total += length; });
    return total;
}

QStringList Originals::Keys() const
{
    QSet<QString> keys;
    forEachLive(m_folder, [&](const QString& key, qint64) { keys.insert(key); });
    QStringList out(keys.cbegin(), keys.cend());
    out.sort();
    return out;
}

Status Originals::RemoveKeys(const QStringList& keys, bool flush) const
{
    if (keys.isEmpty())
        return Status::ok();
    Status st;
    const auto note = [&](const Status& failed) {
        if (st && !failed)
            st = failed;
    };
    bool folderChanged = false;
    std::map<QString, Fd> touched;
    const QHash<QString, std::vector<Locations::Place>> places = Locations::of(m_folder, keys);
    for (const QString& key : keys) {
        const QString legacy = fileOf(key);
        if (::unlink(nativePath(legacy).constData()) == 0)
            folderChanged = true;
        else if (errno != ENOENT)
            note(errnoStatus(legacy, errno));
        for (const Locations::Place& place : places.value(key)) {
            Fd& fd = touched[place.pack];
            if (!fd.valid()) {
                if (Status opened = detail::openFile(place.pack, O_RDWR | O_NOFOLLOW, fd); !opened) {
                    if (opened.code() != ErrorCode::NotFound)
                        note(opened);
                    continue;
                }
            }
            QByteArray buf(kHeaderSize, Qt::Uninitialized);
            if (detail::readAt(fd.get(), buf.data(), kHeaderSize, place.at) != kHeaderSize)
                continue;
            const std::optional<Header> h = parseHeader(buf);
            if (h && h->key == key && h->state == kLive)
                note(deleteEntry(fd.get(), place.at, h->length, place.pack));
        }
    }
    for (auto& [path, fd] : touched) {
        if (!fd.valid())
            continue;
        if (!hasLiveEntry(fd.get()) && unlinkIdlePack(fd.get(), path))
            folderChanged = true;
        else if (flush)
            note(common::durable::syncDescriptor(fd.get(), path));
    }
    if (flush && folderChanged)
        note(common::durable::syncParentFolder(m_folder + u'/' + kLockName));
    return st;
}

Status Originals::Link(const QString& fromKey, const QString& toKey) const
{
    if (fromKey == toKey)
        return Status::ok();
    const std::optional<QByteArray> message = loadKey(fromKey);
    if (!message)
        return Status::fail(ErrorCode::NotFound, fileOf(fromKey));
    Pending pending;
    return append(toKey, *message, pending);
}

namespace {

/// Keys of every whole record of the history at `path`, live or marked.
std::optional<QSet<QString>> keysOfHistory(const QString& path, bool wholeRecordKeys)
{
    QSet<QString> keys;
    Fd fd;
    if (Status st = detail::openFile(path, O_RDONLY, fd); !st)
        return st.code() == ErrorCode::NotFound ? std::optional(keys) : std::nullopt;
    constexpr qint64 perChunk = 32;
    QByteArray buf(perChunk * MailRecord::Size, Qt::Uninitialized);
    for (qint64 offset = 0;; offset += buf.size()) {
        const qint64 got = detail::readAt(fd.get(), buf.data(), buf.size(), offset);
        if (got < 0)
            return std::nullopt;
        for (qint64 i = 0; i + MailRecord::Size <= got; i += MailRecord::Size)
            for (const QString& key : Originals::NamesOf(QByteArrayView(buf.constData() + i, MailRecord::Size),
                                                         wholeRecordKeys))
                keys.insert(key);
        if (got < buf.size())
            return keys;
    }
}

} // namespace

int Originals::CollectOrphans(const HistoryFile& history) const
{
    if (!QFileInfo(m_folder).isDir())
        return 0;
    Fd lock;
    if (!detail::openForWriting(m_folder + u'/' + kLockName, O_RDWR | O_CREAT, lock, 0600) ||
        ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
        return 0; // a pass is open: its originals may still be waiting for their records
    const QStringList names = QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QStringList markers;
    int removed = 0;
    for (const QString& name : names) {
        if (name.startsWith(kMarkerPrefix))
            markers << name;
        else if (name.endsWith(kTempSuffix) && ::unlink(nativePath(m_folder + u'/' + name).constData()) == 0)
            ++removed;
    }
    if (markers.isEmpty())
        return removed;
    (void)detail::restoreScratch(history.path(), history.scratchPath());
    const std::optional<QSet<QString>> named = keysOfHistory(history.path(), HoldsWholeRecordKeys());
    if (!named)
        return removed; // unreadable now: the markers stay for the next try
    bool done = true;
    for (const QString& name : names) {
        const QString path = m_folder + u'/' + name;
        if (name.endsWith(kSuffix)) {
            if (!named->contains(name.chopped(kSuffix.size())) && ::unlink(nativePath(path).constData()) == 0)
                ++removed;
            continue;
        }
        if (!name.endsWith(kPackSuffix))
            continue;
        Fd fd;
        if (!detail::openFile(path, O_RDWR | O_NOFOLLOW, fd)) {
            done = false;
            continue;
        }
        const qint64 size = sizeOf(fd.get());
        bool live = false;
        const qint64 end = scanEntries(fd.get(), size, 0, [&](const Header& h, qint64 at) {
            if (h.state != kLive)
                return true;
            if (named->contains(h.key))
                live = true;
            else if (deleteEntry(fd.get(), at, h.length, path))
                ++removed;
            else
                done = false;
            return true;
        });
        if (end < size) {
            if (::ftruncate(fd.get(), end) == 0)
                ++removed; // what a killed pass wrote and never committed
            else
                done = false;
        }
        if (!live && unlinkIdlePack(fd.get(), path))
            continue;
        if (!common::durable::syncDescriptor(fd.get(), path))
            done = false;
    }
    // The removals must be on disk before the markers that call for them go.
    if (!done || !common::durable::syncParentFolder(m_folder + u'/' + kLockName))
        return removed;
    for (const QString& name : std::as_const(markers))
        ::unlink(nativePath(m_folder + u'/' + name).constData());
    return removed;
}

int CollectOrphanedOriginals(const common::AppDir& appDir)
{
    int removed = 0;
    for (const HistoryKind kind : {HistoryKind::Received, HistoryKind::Sent})
        removed += Originals(appDir, kind).CollectOrphans(HistoryFile(appDir, kind));
    return removed;
}

struct OriginalsWriter::State {
    explicit State(const Originals& o) : originals(o) {}
    const Originals& originals;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<QByteArray, QByteArray>> queue;
    std::vector<Originals::Pending> written;
    Status failed;
    bool busy = false;
    bool ending = false;
    bool idle = false;
    std::thread worker;

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            idle = true;
            changed.wait(lock, [this] { return ending || !queue.empty(); });
            idle = false;
            if (queue.empty())
                return;
            auto [record, message] = std::move(queue.front());
            queue.pop_front();
            busy = true;
            lock.unlock();
            Originals::Pending pending;
            // After a failure the batch is lost anyway: nothing more is written.
            const Status st = failed.isOk() ? originals.Write(record, message, pending) : failed;
            lock.lock();
            busy = false;
            if (st)
                written.push_back(std::move(pending));
            else if (failed.isOk())
                failed = st;
            changed.notify_all();
        }
    }
};

OriginalsWriter::OriginalsWriter(const Originals& originals) : m_state(std::make_unique<State>(originals))
{
    m_state->worker = std::thread([state = m_state.get()] { state->run(); });
}

OriginalsWriter::~OriginalsWriter()
{
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->ending = true;
        m_state->queue.clear();
    }
    m_state->changed.notify_all();
    m_state->worker.join();
    m_state->originals.Discard(m_state->written);
}

void OriginalsWriter::Write(QByteArray recordBytes, QByteArray message)
{
    // Woken for a few at a time: waking it for each small message cost the caller
    // more than writing it.
    constexpr size_t WakeEvery = 8;
    constexpr qsizetype WakeForBytes = qsizetype(256) << 10;
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        const bool big = message.size() >= WakeForBytes;
        m_state->queue.emplace_back(std::move(recordBytes), std::move(message));
        wake = m_state->idle && (big || m_state->queue.size() >= WakeEvery);
    }
    if (wake)
        m_state->changed.notify_all();
}

Status OriginalsWriter::Commit(QStringList* keys, QByteArrayList* sums)
{
    std::vector<Originals::Pending> batch;
    Status failed;
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        m_state->changed.notify_all();
        m_state->changed.wait(lock, [this] { return m_state->queue.empty() && !m_state->busy; });
        batch = std::exchange(m_state->written, {});
        failed = std::exchange(m_state->failed, Status::ok());
    }
    if (!failed) {
        m_state->originals.Discard(batch);
        return failed;
    }
    for (const Originals::Pending& one : batch) {
        if (keys)
            keys->append(one.key);
        if (sums)
            sums->append(one.sum);
    }
    return m_state->originals.Commit(batch);
}

} // namespace corvidan::storage
