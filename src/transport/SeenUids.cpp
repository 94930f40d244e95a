#include "transport/SeenUids.h"

#include "common/Durable.h"

#include <QCryptographicHash>
#include <QFile>
#include <utility>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace corvidan::transport {

using common::ErrorCode;
using common::Status;

namespace {
constexpr char Separator = '\t';
// Earlier versions wrote SHA-1 digests; the kind is told apart by length in memory.
const QByteArray Sha1Tag = QByteArrayLiteral("sha1:");
const QByteArray Blake2Tag = QByteArrayLiteral("b2:");
constexpr qsizetype Sha1Bytes = 20;

bool isContentField(QByteArrayView field)
{
    return field.startsWith(Sha1Tag) || field.startsWith(Blake2Tag);
}

QByteArray contentDigestIn(QByteArrayView field)
{
    if (field.startsWith(Sha1Tag))
        return QByteArray::fromHex(field.sliced(Sha1Tag.size()).toByteArray());
    if (field.startsWith(Blake2Tag))
        return QByteArray::fromHex(field.sliced(Blake2Tag.size()).toByteArray());
    return {};
}

QByteArray contentField(const QByteArray& digest)
{
    return (digest.size() == Sha1Bytes ? Sha1Tag : Blake2Tag) + digest.toHex();
}

Status fileError(const QFile& file)
{
    const ErrorCode code =
        file.error() == QFileDevice::ResourceError ? ErrorCode::DiskFull : ErrorCode::Io;
    return Status::fail(code, file.fileName() + QStringLiteral(": ") + file.errorString());
}
} // namespace

SeenUids::SeenUids(QString path, QString server, QString user)
    : m_path(std::move(path)), m_server(std::move(server)), m_user(std::move(user))
{
}

QString SeenUids::pathIn(const common::AppDir& appDir)
{
    return appDir.path(u"\\★MAilData\\received-uids.txt");
}

QByteArray SeenUids::prefixFor(const QString& uid) const
{
    return m_server.toUtf8() + Separator + m_user.toUtf8() + Separator + uid.toUtf8() + Separator;
}

QByteArray SeenUids::lineFor(const QString& uid, const QByteArray& contentDigest) const
{
    return prefixFor(uid) + contentField(contentDigest) + '\n';
}

QByteArray SeenUids::digestOf(QByteArrayView message)
{
    return QCryptographicHash::hash(message, QCryptographicHash::Blake2b_256);
}

bool SeenUids::holds(const QString& uid, QByteArrayView message) const
{
    const auto it = m_uids.constFind(uid);
    if (it == m_uids.cend() || it->isEmpty())
        return false;
    return *it == (it->size() == Sha1Bytes ? QCryptographicHash::hash(message, QCryptographicHash::Sha1)
                                           : digestOf(message));
}

bool SeenUids::contains(const QString& uid, const QByteArray& contentDigest) const
{
    const auto it = m_uids.constFind(uid);
    return it != m_uids.cend() && !it->isEmpty() && *it == contentDigest;
}

Status SeenUids::load()
{
    m_uids.clear();
    m_intents.clear();
    m_otherAccounts.clear();
    QFile file(m_path);
    if (!file.exists())
        return Status::ok();
    if (!file.open(QIODevice::ReadOnly))
        return fileError(file);
    const QByteArray data = file.readAll();
    const QByteArray prefix = m_server.toUtf8() + Separator + m_user.toUtf8() + Separator;
    qsizetype start = 0;
    for (qsizetype end = data.indexOf('\n'); end >= 0; end = data.indexOf('\n', start)) {
        const QByteArray line = data.mid(start, end - start);
        start = end + 1;
        if (line.isEmpty())
            continue;
        if (!line.startsWith(prefix)) {
            m_otherAccounts.append(line + '\n');
            continue;
        }
        const QByteArrayList rest = line.mid(prefix.size()).split(Separator);
        if (rest.size() == 1) {
            m_uids.insert(QString::fromUtf8(rest[0]), QByteArray());
        } else if (rest.size() == 2 && isContentField(rest[1])) {
            m_uids.insert(QString::fromUtf8(rest[0]), contentDigestIn(rest[1]));
        } else if (rest.size() >= 2) {
            const qsizetype colon = rest[1].indexOf(':');
            m_intents.append(Intent{QString::fromUtf8(rest[0]), rest[1].left(colon).toInt(),
                                    QByteArray::fromHex(rest[1].mid(colon + 1)),
                                    contentDigestIn(rest.value(2))});
        }
    }
    if (start < data.size()) { // drop the torn line before anything is appended to it
        m_append.reset();
        return common::durable::replaceFile(m_path, data.left(start));
    }
    return Status::ok();
}

Status SeenUids::remember(const QString& uid, const QByteArray& contentDigest)
{
    if (uid.isEmpty() || contains(uid, contentDigest))
        return Status::ok();
    if (Status st = appendLine(lineFor(uid, contentDigest)); !st)
        return st;
    m_uids.insert(uid, contentDigest);
    m_dirty = true;
    return Status::ok();
}

Status SeenUids::intend(const QString& uid, int recordNo, const QByteArray& digest,
                        const QByteArray& contentDigest)
{
    if (uid.isEmpty() || contains(uid, contentDigest))
        return Status::ok();
    if (Status st = appendLine(prefixFor(uid) + QByteArray::number(recordNo) + ':' + digest.toHex() + Separator +
                               contentField(contentDigest) + '\n');
        !st)
        return st;
    m_dirty = true;
    return Status::ok();
}

Status SeenUids::writeHeld()
{
    m_holding = false;
    if (m_held.isEmpty())
        return Status::ok();
    return appendLine(std::exchange(m_held, {}));
}

Status SeenUids::appendLine(const QByteArray& line)
{
    if (m_holding) {
        m_held += line;
        return Status::ok();
    }
    if (!m_append) {
        auto file = std::make_shared<QFile>(m_path);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Append))
            return fileError(*file);
        m_append = std::move(file);
    }
    if (m_append->write(line) != line.size() || !m_append->flush()) {
        const Status st = fileError(*m_append);
        m_append.reset();
        return st;
    }
    return Status::ok();
}

Status SeenUids::resolveIntents(const std::function<bool(int, const QByteArray&)>& isStored)
{
    Status st;
    if (!m_intents.isEmpty())
        m_dirty = true; // their lines go at the next keepOnly
    for (const Intent& intent : std::as_const(m_intents)) {
        if (contains(intent.uid, intent.contentDigest) || !isStored(intent.recordNo, intent.digest))
            continue;
        if (Status remembered = remember(intent.uid, intent.contentDigest); !remembered)
            st = remembered;
    }
    m_intents.clear();
    return st;
}

Status SeenUids::sync()
{
    if (!m_dirty)
        return Status::ok();
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Status::fail(common::durable::codeForErrno(errno), m_path);
    Status st = common::durable::syncDescriptor(fd, m_path);
    ::close(fd);
    if (st)
        st = common::durable::syncParentFolder(m_path);
    if (st)
        m_dirty = false;
    return st;
}

Status SeenUids::keepOnly(const QSet<QString>& pending)
{
    QHash<QString, QByteArray> kept;
    QByteArray data = m_otherAccounts.join();
    for (auto it = m_uids.cbegin(); it != m_uids.cend(); ++it) {
        if (pending.contains(it.key())) {
            kept.insert(it.key(), it.value());
            data += it->isEmpty() ? prefixFor(it.key()).chopped(1) + '\n' : lineFor(it.key(), it.value());
        }
    }
    if (kept == m_uids && !m_dirty)
        return Status::ok();
    Status st;
    m_append.reset(); // the file is replaced: appends go to the new one
    if (data.isEmpty()) {
        if (QFile::exists(m_path) && !QFile::remove(m_path))
            return Status::fail(ErrorCode::Io, m_path);
        st = common::durable::syncParentFolder(m_path);
    } else {
        st = common::durable::replaceFile(m_path, data);
    }
    if (st) {
        m_uids = std::move(kept);
        m_dirty = false;
    }
    return st;
}

} // namespace corvidan::transport
