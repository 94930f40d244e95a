#include "common/Durable.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <mutex>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvidan::common::durable {

namespace {
QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

Status errnoStatus(const QString& path, int err)
{
    return Status::fail(codeForErrno(err),
                        path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
}
} // namespace

ErrorCode codeForErrno(int err)
{
    return (err == ENOSPC || err == EDQUOT) ? ErrorCode::DiskFull : ErrorCode::Io;
}

namespace {
SyncProbe& syncProbe()
{
    static SyncProbe probe;
    return probe;
}
} // namespace

void setSyncProbe(SyncProbe probe)
{
    syncProbe() = std::move(probe);
}

Status syncDescriptor(int fd, const QString& pathForErrors)
{
    if (const SyncProbe& probe = syncProbe()) {
        // Flushes may run in several threads at once; a probe sees them one at a time.
        static std::mutex serial;
        const std::lock_guard<std::mutex> lock(serial);
        if (!probe(pathForErrors))
            return errnoStatus(pathForErrors, EIO);
    }
    if (::fsync(fd) != 0)
        return errnoStatus(pathForErrors, errno);
    return Status::ok();
}

Status syncParentFolder(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errnoStatus(folder, errno);
    const Status st = syncDescriptor(fd, folder);
    ::close(fd);
    return st;
}

Status renameOver(const QString& from, const QString& to)
{
    if (::rename(native(from).constData(), native(to).constData()) != 0)
        return errnoStatus(to, errno);
    return syncParentFolder(to);
}

Status replaceFile(const QString& path, QByteArrayView data)
{
    const QString temp = path + QStringLiteral(".part");
    // The new file starts with the old one's permissions, so a private file is
    // never readable by others, not even for a moment.
    mode_t mode = 0644;
    struct stat old {};
    if (::stat(native(path).constData(), &old) == 0)
        mode = old.st_mode & 07777;
    ::unlink(native(temp).constData());
    const int fd = ::open(native(temp).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return errnoStatus(temp, errno);
    const char* p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(native(temp).constData());
            return errnoStatus(path, err);
        }
        p += n;
        left -= n;
    }
    ::fchmod(fd, mode); // the umask may have narrowed it
    Status st = syncDescriptor(fd, temp);
    ::close(fd);
    if (!st) {
        ::unlink(native(temp).constData());
        return st;
    }
    return renameOver(temp, path);
}

} // namespace corvidan::common::durable
