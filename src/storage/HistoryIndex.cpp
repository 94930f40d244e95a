#include "storage/HistoryIndex.h"

#include "storage/MailRecord.h"
#include "storage/RecordFile.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvidan::storage::detail {

namespace {

constexpr char kMagic[8] = {'C', 'V', 'D', 'H', 'I', 'X', '1', '\n'};
constexpr qint64 kEntry = MailRecord::HeaderBytes;
static_assert(kEntry % 8 == 0, "the checksum walks whole 64-bit words");

struct Head {
    char magic[8];
    quint32 entrySize;
    quint32 count;
    qint64 size;
    qint64 mtimeSec, mtimeNsec, ctimeSec, ctimeNsec;
    quint64 inode, device;
    quint64 checksum;
};
static_assert(sizeof(Head) == 80);

constexpr quint64 kSeed = 0x6A09E667F3BCC908ULL;

quint64 extendChecksum(quint64 h, const char* data, qint64 len)
{
    for (qint64 i = 0; i < len; i += 8) {
        quint64 w;
        std::memcpy(&w, data + i, 8);
        h ^= w * 0x9E3779B97F4A7C15ULL;
        h = ((h << 27) | (h >> 37)) * 0xC2B2AE3D27D4EB4FULL + 0x165667B19E3779F9ULL;
    }
    return h;
}

Head headFor(const FileStamp& s, quint32 count, quint64 checksum)
{
    Head h{};
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.entrySize = static_cast<quint32>(kEntry);
    h.count = count;
    h.size = s.size;
    h.mtimeSec = s.mtimeSec;
    h.mtimeNsec = s.mtimeNsec;
    h.ctimeSec = s.ctimeSec;
    h.ctimeNsec = s.ctimeNsec;
    h.inode = s.inode;
    h.device = s.device;
    h.checksum = checksum;
    return h;
}

bool headMatches(const Head& h, const FileStamp& s)
{
    const Head want = headFor(s, h.count, h.checksum);
    return std::memcmp(&h, &want, sizeof h) == 0 && h.count == s.size / MailRecord::Size;
}

bool sameHeaderInHistory(int historyFd, qint64 recordIndex, const char* entry)
{
    char buf[kEntry];
    return readAt(historyFd, buf, kEntry, recordIndex * MailRecord::Size) == kEntry &&
           std::memcmp(buf, entry, kEntry) == 0;
}

} // namespace

std::optional<FileStamp> stampOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    FileStamp s;
    s.size = st.st_size;
    s.mtimeSec = st.st_mtim.tv_sec;
    s.mtimeNsec = st.st_mtim.tv_nsec;
    s.ctimeSec = st.st_ctim.tv_sec;
    s.ctimeNsec = st.st_ctim.tv_nsec;
    s.inode = st.st_ino;
    s.device = st.st_dev;
    s.mode = st.st_mode & 07777;
    return s;
}

HistoryIndex::HistoryIndex(const QString& historyPath)
    : m_path(historyPath + QStringLiteral(".idx"))
{
}

bool HistoryIndex::load(const FileStamp& history, int historyFd,
                        const std::function<void(const char* entry)>& visit) const
{
    Fd fd;
    if (!openFile(m_path, O_RDONLY, fd))
        return false;
    Head head{};
    if (readAt(fd.get(), reinterpret_cast<char*>(&head), sizeof head, 0) != sizeof head ||
        !headMatches(head, history))
        return false;
    const qint64 bytes = head.count * kEntry;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || st.st_size != static_cast<off_t>(sizeof head + bytes))
        return false;

    // Streamed through a small buffer; the caller drops what it saw when the checks fail.
    constexpr qint64 kChunk = 256 * kEntry;
    std::vector<char> buf(kChunk);
    char first[kEntry];
    char last[kEntry];
    quint64 checksum = kSeed;
    for (qint64 done = 0; done < bytes;) {
        const qint64 want = std::min(kChunk, bytes - done);
        if (readAt(fd.get(), buf.data(), want, sizeof head + done) != want)
            return false;
        checksum = extendChecksum(checksum, buf.data(), want);
        if (done == 0)
            std::memcpy(first, buf.data(), kEntry);
        for (qint64 at = 0; at < want; at += kEntry)
            visit(buf.data() + at);
        std::memcpy(last, buf.data() + want - kEntry, kEntry);
        done += want;
    }
    return checksum == head.checksum &&
           (head.count == 0 || (sameHeaderInHistory(historyFd, 0, first) &&
                                sameHeaderInHistory(historyFd, head.count - 1, last)));
}

void HistoryIndex::store(const FileStamp& history, const QByteArray& headers) const
{
    // A cache needs no flush: a summary lost or torn in a crash fails its checks.
    const QString temp = m_path + QStringLiteral(".part");
    Fd fd;
    ::unlink(nativePath(temp).constData());
    if (!openForWriting(temp, O_WRONLY | O_CREAT | O_EXCL, fd, history.mode ? history.mode : 0600))
        return;
    const Head head = headFor(history, static_cast<quint32>(headers.size() / kEntry),
                              extendChecksum(kSeed, headers.constData(), headers.size()));
    const bool written =
        writeAt(fd.get(), reinterpret_cast<const char*>(&head), sizeof head, 0, temp) &&
        writeAt(fd.get(), headers.constData(), headers.size(), sizeof head, temp);
    fd = Fd();
    if (!written || ::rename(nativePath(temp).constData(), nativePath(m_path).constData()) != 0)
        ::unlink(nativePath(temp).constData());
}

void HistoryIndex::appendEntry(const FileStamp& before, const FileStamp& after,
                               const char* header) const
{
    appendEntries(before, after, {QByteArrayView(header, kEntry)});
}

void HistoryIndex::appendEntries(const FileStamp& before, const FileStamp& after,
                                 const std::vector<QByteArrayView>& records) const
{
    const int count = static_cast<int>(records.size());
    Fd fd;
    if (count < 1 || !openForWriting(m_path, O_RDWR, fd))
        return;
    Head head{};
    if (readAt(fd.get(), reinterpret_cast<char*>(&head), sizeof head, 0) != sizeof head ||
        !headMatches(head, before) || head.count + count != after.size / MailRecord::Size)
        return;
    QByteArray entries(qsizetype(count) * kEntry, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        std::memcpy(entries.data() + qsizetype(i) * kEntry, records[size_t(i)].data(), kEntry);
    // Entries first, stamp last: until the stamp is new the summary reads as stale.
    const qint64 at = sizeof head + head.count * kEntry;
    if (!writeAt(fd.get(), entries.constData(), entries.size(), at, m_path) ||
        ::ftruncate(fd.get(), at + entries.size()) != 0)
        return;
    const Head next =
        headFor(after, head.count + count, extendChecksum(head.checksum, entries.constData(), entries.size()));
    // A summary whose head was not written fails its check and is rebuilt.
    (void)writeAt(fd.get(), reinterpret_cast<const char*>(&next), sizeof next, 0, m_path);
}

void HistoryIndex::remove() const
{
    ::unlink(nativePath(m_path).constData());
}

} // namespace corvidan::storage::detail
