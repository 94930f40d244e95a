#include "transport/Attachment.h"

#include "common/Durable.h"

#include <QDir>
#include <QFile>
#include <thread>
#include <vector>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace corvidan::transport::attachment {

namespace {

bool isForbidden(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F))
        return true;
    switch (u) {
    case u'<': case u'>': case u':': case u'"': case u'|': case u'?': case u'*': case u'/': case u'\\':
        return true;
    default:
        return u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
    }
}

bool isDeviceName(const QString& name)
{
    const QString stem = name.section(u'.', 0, 0).trimmed().toUpper();
    static const QSet<QString> fixed = {QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                        QStringLiteral("NUL"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (fixed.contains(stem))
        return true;
    return stem.size() == 4 && (stem.startsWith(QStringLiteral("COM")) || stem.startsWith(QStringLiteral("LPT")))
           && stem[3] >= u'0' && stem[3] <= u'9';
}

/// Cuts `text` to at most `maxBytes` UTF-8 bytes on a character boundary.
QString cutUtf8(const QString& text, int maxBytes)
{
    QString out;
    int bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const int size = static_cast<int>(text.mid(i, len).toUtf8().size());
        if (bytes + size > maxBytes)
            break;
        out += text.mid(i, len);
        bytes += size;
        i += len - 1;
    }
    return out;
}

QString withSuffix(const QString& name, int number)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString suffix = QStringLiteral(" (") + QString::number(number) + u')';
    if (dot <= 0)
        return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}

const QString TempPrefix = QStringLiteral(".corvidan-attachment-");

/// A temporary file of a writer that died: its name carries the writer's process id.
bool isLeftOverTemp(const QString& entry)
{
    if (!entry.startsWith(TempPrefix) || !entry.endsWith(QStringLiteral(".part")))
        return false;
    bool ok = false;
    const qint64 pid = entry.mid(TempPrefix.size()).section(u'-', 0, 0).toLongLong(&ok);
    return ok && pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

/// Gives `temp` the name `path` unless that name exists (never replacing it).
bool publish(const QString& temp, const QString& path)
{
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(path);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the no-replace rename: a hard link never replaces either.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP)
        return false;
    return !QFileInfo::exists(path) && ::rename(from.constData(), to.constData()) == 0;
}

} // namespace

QString sanitizeFileName(const QString& name, const QString& fallbackExtension)
{
    // Only the last component of whatever path the sender put in.
    QString base = name;
    const qsizetype sep = std::max(base.lastIndexOf(u'/'), base.lastIndexOf(u'\\'));
    if (sep >= 0)
        base = base.mid(sep + 1);
    QString clean;
    for (QChar c : std::as_const(base))
        clean += isForbidden(c) ? QChar(u'_') : c;
    // Leading dots hide files or climb folders; Windows drops trailing dots and blanks.
    while (!clean.isEmpty() && (clean.front() == u'.' || clean.front().isSpace()))
        clean.remove(0, 1);
    while (!clean.isEmpty() && (clean.back() == u'.' || clean.back().isSpace()))
        clean.chop(1);
    if (clean.isEmpty() || clean.count(u'_') == clean.size())
        clean = QStringLiteral("attachment") + fallbackExtension;
    if (isDeviceName(clean))
        clean.prepend(u'_');
    if (clean.toUtf8().size() > MaxNameBytes) {
        const qsizetype dot = clean.lastIndexOf(u'.');
        QString ext = dot > 0 ? clean.mid(dot) : QString();
        if (ext.toUtf8().size() > 16)
            ext.clear();
        const QString stem = ext.isEmpty() ? clean : clean.left(dot);
        QString cut = cutUtf8(stem, MaxNameBytes - static_cast<int>(ext.toUtf8().size()));
        // The cut may end where a blank or a dot stood: the same rule as above.
        while (!cut.isEmpty() && (cut.back() == u'.' || cut.back().isSpace()))
            cut.chop(1);
        clean = cut.isEmpty() ? QStringLiteral("attachment") + (ext.isEmpty() ? fallbackExtension : ext) : cut + ext;
    }
    return clean;
}

QString extensionForType(const QByteArray& mimeType)
{
    static const QHash<QByteArray, QString> known = {
        {"image/jpeg", QStringLiteral(".jpg")},   {"image/jpg", QStringLiteral(".jpg")},
        {"image/gif", QStringLiteral(".gif")},    {"image/png", QStringLiteral(".png")},
        {"image/bmp", QStringLiteral(".bmp")},    {"application/pdf", QStringLiteral(".pdf")},
        {"text/plain", QStringLiteral(".txt")},   {"text/html", QStringLiteral(".html")},
        {"message/rfc822", QStringLiteral(".eml")}, {"application/zip", QStringLiteral(".zip")},
        {"audio/mpeg", QStringLiteral(".mp3")},   {"video/mp4", QStringLiteral(".mp4")},
    };
    return known.value(mimeType.toLower(), QStringLiteral(".bin"));
}

QString folderPath(const QString& folder)
{
    QString path = folder;
    if (!QFileInfo(path).isDir() && path.contains(u'\\'))
        path.replace(u'\\', u'/');
    while (path.size() > 1 && (path.endsWith(u'/') || path.endsWith(u'\\')))
        path.chop(1);
    return path;
}

namespace {

/// Files written and not yet flushed to disk.
QMutex unsyncedLock;
QStringList unsynced;

/// `data` written whole into `folder` under a temporary name of our own: a
/// process killed while writing must not leave half a file under the
/// attachment's name. The temporary path, or empty.
QString writeTemp(const QString& folder, const QByteArray& data)
{
    const QString temp = folder + u'/' + TempPrefix + QString::number(::getpid()) + u'-' +
                         QString::number(QRandomGenerator::global()->generate64(), 36) + QStringLiteral(".part");
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return {};
    if (file.write(data) != data.size() || !file.flush()) {
        file.close();
        file.remove();
        return {};
    }
    return temp;
}

/// Lower-case names in `folder`; temporary files of dead writers are removed on the way.
QSet<QString> listNames(const QString& folder)
{
    QSet<QString> taken;
    for (const QString& entry : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System)) {
        if (isLeftOverTemp(entry)) {
            QFile::remove(folder + u'/' + entry);
            continue;
        }
        taken.insert(entry.toLower());
    }
    return taken;
}

common::Status syncFiles(const QStringList& files)
{
    // Flushes issued together overlap on the device: a batch of attachments costs
    // about what the slowest one costs alone.
    std::vector<common::Status> flushed(size_t(files.size()));
    const size_t workers = std::min<size_t>(size_t(files.size()), 16);
    std::vector<std::thread> threads;
    for (size_t w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (size_t i = w; i < size_t(files.size()); i += workers) {
                const QString& path = files[qsizetype(i)];
                const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
                if (fd < 0 && errno == ENOENT)
                    continue; // moved away by the user meanwhile: nothing of ours to keep
                flushed[i] = fd < 0 ? common::Status::fail(common::durable::codeForErrno(errno), path)
                                    : common::durable::syncDescriptor(fd, path);
                if (fd >= 0)
                    ::close(fd);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    common::Status result;
    QSet<QString> folders;
    for (qsizetype i = 0; i < files.size(); ++i) {
        common::Status st = flushed[size_t(i)];
        const QString folder = QFileInfo(files[i]).path();
        if (st && !folders.contains(folder)) {
            folders.insert(folder);
            st = common::durable::syncParentFolder(files[i]);
        }
        if (!st && result)
            result = st;
    }
    return result;
}

QString withTag(const QString& name, const QString& tag)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return name + u'-' + tag;
    return name.left(dot) + u'-' + tag + name.mid(dot);
}

} // namespace

QString writeNew(const QString& folder, const QString& name, const QByteArray& data)
{
    const QSet<QString> taken = listNames(folder);
    const QString temp = writeTemp(folder, data);
    if (temp.isEmpty())
        return {};
    for (int number = 1; number < 10000; ++number) {
        const QString candidate = number == 1 ? name : withSuffix(name, number);
        if (taken.contains(candidate.toLower()))
            continue;
        const QString path = folder + u'/' + candidate;
        if (publish(temp, path)) {
            const QMutexLocker lock(&unsyncedLock);
            unsynced.append(path);
            return path;
        }
        if (!QFileInfo::exists(path))
            break;
        // A file appearing meanwhile is still never replaced: try the next name.
    }
    QFile::remove(temp);
    return {};
}

common::Status syncWritten()
{
    QStringList files;
    {
        const QMutexLocker lock(&unsyncedLock);
        files.swap(unsynced);
    }
    return syncFiles(files);
}

Folder::Folder(QString path) : m_path(folderPath(path)) {}

void Folder::list()
{
    if (m_listed)
        return;
    m_taken = listNames(m_path);
    m_listed = true;
}

QString Folder::write(const QString& senderName, const QByteArray& type, const QByteArray& data)
{
    list();
    QString name = senderName;
    if (type == "message/rfc822") {
        if (name.trimmed().isEmpty())
            name = QStringLiteral("message");
        if (!name.endsWith(QStringLiteral(".eml"), Qt::CaseInsensitive))
            name += QStringLiteral(".eml");
    }
    const QString clean = sanitizeFileName(name, extensionForType(type));
    const QString temp = writeTemp(m_path, data);
    const QString path = temp.isEmpty() ? QString() : publishFree(temp, clean);
    if (path.isEmpty()) {
        if (!temp.isEmpty())
            QFile::remove(temp);
        m_error = m_path + u'/' + clean;
        return {};
    }
    m_unsynced.append(path);
    return path;
}

QString Folder::publishFree(const QString& temp, const QString& name)
{
    const QString key = name.toLower();
    int number = m_nextNumber.value(key, 1);
    // Each taken name blocks at most one number, so the counter finds a free one within this bound.
    const qint64 limit = std::min<qint64>(qint64(number) + m_taken.size() + 100, INT_MAX);
    for (; number < limit; ++number) {
        const QString candidate = number == 1 ? name : withSuffix(name, number);
        const QString lower = candidate.toLower();
        if (m_taken.contains(lower))
            continue;
        const QString path = m_path + u'/' + candidate;
        if (publish(temp, path)) {
            m_taken.insert(lower);
            m_nextNumber.insert(key, number + 1);
            return path;
        }
        if (!QFileInfo::exists(path))
            return {};
        m_taken.insert(lower); // appeared meanwhile: still never replaced
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate = withTag(name, QString::number(QRandomGenerator::global()->generate64(), 36));
        const QString path = m_path + u'/' + candidate;
        if (!m_taken.contains(candidate.toLower()) && publish(temp, path)) {
            m_taken.insert(candidate.toLower());
            return path;
        }
    }
    return {};
}

common::Status Folder::sync()
{
    QStringList files;
    files.swap(m_unsynced);
    return syncFiles(files);
}

std::function<common::Status()> Folder::takeSync()
{
    return [files = std::exchange(m_unsynced, {})] { return syncFiles(files); };
}

void deferSync(Folder& folder)
{
    const QMutexLocker lock(&unsyncedLock);
    unsynced.append(folder.m_unsynced);
    folder.m_unsynced.clear();
}

} // namespace corvidan::transport::attachment
