#include "storage/Originals.h"

#include "common/Durable.h"
#include "storage/HistoryFile.h"
#include "storage/MailRecord.h"
#include "storage/RecordFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QtGlobal>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace corvidan::storage {

using common::ErrorCode;
using common::Status;
using detail::Fd;
using detail::errnoStatus;
using detail::nativePath;

namespace {

const QString kSuffix = QStringLiteral(".eml");
const QString kTempSuffix = QStringLiteral(".part");
const QString kMarkerPrefix = QStringLiteral(".pass-");
const QString kLockName = QStringLiteral(".lock");
// Bigger than any message a receive may fetch (4 GiB): a file past it is no original.
constexpr qint64 kMaxOriginal = (qint64(4096) << 20) + (qint64(1) << 20);

std::atomic<int> g_serial{0};

Status writeAll(int fd, QByteArrayView data, const QString& path)
{
    const char* p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errnoStatus(path, errno);
        p += n;
        left -= n;
    }
    return Status::ok();
}

/// Renames without replacing: a name already taken is reported as EEXIST.
int renameNoReplace(const QString& from, const QString& to)
{
    if (::renameat2(AT_FDCWD, nativePath(from).constData(), AT_FDCWD, nativePath(to).constData(),
                    RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a hard link refuses a taken name the same way.
    if (::link(nativePath(from).constData(), nativePath(to).constData()) != 0)
        return errno;
    ::unlink(nativePath(from).constData());
    return 0;
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

} // namespace

struct Originals::Pass {
    Fd lock;
    QString marker;
    ~Pass()
    {
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
    const QByteArrayView stored = recordBytes.first(std::min<qsizetype>(recordBytes.size(), MailRecord::LiveOffset));
    return QString::fromLatin1(QCryptographicHash::hash(stored, QCryptographicHash::Sha256).toHex());
}

QString Originals::fileOf(const QString& key) const
{
    return m_folder + u'/' + key + kSuffix;
}

QString Originals::pathOf(QByteArrayView recordBytes) const
{
    return fileOf(keyOf(recordBytes));
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

Status Originals::BeginPass() const
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
    if (Status st = common::durable::syncParentFolder(marker); !st)
        return st;
    m_pass = std::move(pass);
    return Status::ok();
}

void Originals::LeaveForCollection() const
{
    if (m_pass)
        m_pass->marker.clear();
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
    if (Status st = BeginPass(); !st)
        return st;
    const QString target = pathOf(recordBytes);
    const QString temp =
        QStringLiteral("%1.%2-%3%4").arg(target).arg(::getpid()).arg(g_serial.fetch_add(1)).arg(kTempSuffix);
    Fd fd;
    if (Status st = detail::openForWriting(temp, O_WRONLY | O_CREAT | O_EXCL, fd, 0600); !st)
        return st;
    if (Status st = writeAll(fd.get(), message, temp); !st) {
        ::unlink(nativePath(temp).constData());
        return st;
    }
    // Its write to disk starts now, so that the flush in Commit finds little left to do.
    ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    pending.temp = temp;
    pending.target = target;
    pending.fd = std::shared_ptr<const int>(new int(fd.release()), [](const int* raw) {
        ::close(*raw);
        delete raw;
    });
    return Status::ok();
}

void Originals::Discard(std::vector<Pending>& batch)
{
    for (const Pending& p : batch)
        ::unlink(nativePath(p.temp).constData());
    batch.clear();
}

Status Originals::Commit(std::vector<Pending>& batch) const
{
    if (batch.empty())
        return Status::ok();
    // Flushes issued together share the file system's journal commits: a batch
    // costs about what one file costs alone.
    std::vector<Status> flushed(batch.size());
    const size_t workers = std::min<size_t>(batch.size(), 16);
    std::vector<std::thread> threads;
    for (size_t w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (size_t i = w; i < batch.size(); i += workers)
                flushed[i] = common::durable::syncDescriptor(*batch[i].fd, batch[i].temp);
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (const Status& st : flushed) {
        if (!st) {
            Discard(batch);
            return st;
        }
    }
    for (const Pending& p : batch) {
        const int err = renameNoReplace(p.temp, p.target);
        if (err == EEXIST) {
            // Two records identical byte for byte decode the same from either message,
            // and the original already there may be named by a record the user sees:
            // it stays, and this one is not kept. Replacing it would change what
            // that record's original shows.
            if (detail::fileSize(p.temp) != detail::fileSize(p.target))
                qWarning("original %s kept: another message gave an identical record",
                         qPrintable(QFileInfo(p.target).fileName()));
            ::unlink(nativePath(p.temp).constData());
        } else if (err != 0) {
            const Status failed = errnoStatus(p.target, err);
            Discard(batch);
            return failed;
        }
    }
    batch.clear();
    return common::durable::syncParentFolder(m_folder + u'/' + kLockName);
}

std::optional<QByteArray> Originals::Load(QByteArrayView recordBytes) const
{
    return readWhole(pathOf(recordBytes));
}

qint64 Originals::TotalBytes() const
{
    qint64 total = 0;
    const QFileInfoList files =
        QDir(m_folder).entryInfoList({QStringLiteral("*") + kSuffix}, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& file : files)
        total += file.size();
    return total;
}

Status Originals::RemoveKeys(const QStringList& keys) const
{
    if (keys.isEmpty())
        return Status::ok();
    Status st;
    for (const QString& key : keys) {
        const QString path = fileOf(key);
        if (::unlink(nativePath(path).constData()) != 0 && errno != ENOENT && st)
            st = errnoStatus(path, errno);
    }
    if (Status synced = common::durable::syncParentFolder(fileOf(keys.first())); !synced && st)
        st = synced;
    return st;
}

Status Originals::Link(const QString& fromKey, const QString& toKey) const
{
    if (fromKey == toKey)
        return Status::ok();
    if (::link(nativePath(fileOf(fromKey)).constData(), nativePath(fileOf(toKey)).constData()) != 0 &&
        errno != EEXIST)
        return errnoStatus(fileOf(toKey), errno);
    return Status::ok();
}

Status Originals::SyncFolder() const
{
    return common::durable::syncParentFolder(m_folder + u'/' + kLockName);
}

namespace {

/// Keys of every whole record of the history at `path`, live or marked.
std::optional<QSet<QString>> keysOfHistory(const QString& path)
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
            keys.insert(Originals::keyOf(QByteArrayView(buf.constData() + i, MailRecord::Size)));
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
    const std::optional<QSet<QString>> named = keysOfHistory(history.path());
    if (!named)
        return removed; // unreadable now: the markers stay for the next try
    for (const QString& name : names) {
        if (name.endsWith(kSuffix) && !named->contains(name.chopped(kSuffix.size())) &&
            ::unlink(nativePath(m_folder + u'/' + name).constData()) == 0)
            ++removed;
    }
    // The removals must be on disk before the markers that call for them go.
    if (!common::durable::syncParentFolder(m_folder + u'/' + kLockName))
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

} // namespace corvidan::storage
