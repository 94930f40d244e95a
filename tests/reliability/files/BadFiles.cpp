#include "BadFiles.h"

#include "support/ScriptedMailbox.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace corvidan::test::badfiles {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

void appendFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Append))
        f.write(bytes);
}

storage::MailRecord numberedMail(const QString& tag, int i)
{
    storage::MailRecord r;
    r.Subject = QStringLiteral("会議のご案内 [%1-%2]").arg(tag).arg(i);
    r.Date = QStringLiteral("2026/12/08  10:%1:00").arg(i % 60, 2, 10, QChar(u'0'));
    r.Address = QStringLiteral("suzuki%1@example.co.jp").arg(i);
    r.Body = QStringLiteral("お世話になっております。\r\n第%1回の資料です。").arg(i);
    r.Live = 1;
    return r;
}

QStringList historySubjects(const QString& path, qint64* tornTail)
{
    const QByteArray bytes = readFile(path);
    QStringList subjects;
    const qsizetype whole = bytes.size() / storage::MailRecord::Size;
    for (qsizetype i = 0; i < whole; ++i)
        subjects << storage::MailRecord::fromBytes(bytes.constData() +
                                                   i * storage::MailRecord::Size)
                        .Subject.trimmed();
    if (tornTail)
        *tornTail = bytes.size() % storage::MailRecord::Size;
    return subjects;
}

test::ScriptedMailbox mailbox(const QString& tag, int count)
{
    test::ScriptedMailbox mail;
    for (int i = 1; i <= count; ++i)
        mail.box.push_back({QStringLiteral("%1-uid-%2").arg(tag).arg(i),
                            test::ScriptedMailbox::text(QStringLiteral("お知らせ [%1-%2]").arg(tag).arg(i),
                                                        QStringLiteral("いつもありがとうございます。\r\n受付番号 [%1-%2]\r\n")
                                                            .arg(tag)
                                                            .arg(i),
                                                        QStringLiteral("山田 花子 <hanako@example.co.jp>"))});
    return mail;
}

QString subjectOf(const test::ScriptedMailbox::Message& message)
{
    const qsizetype from = message.bytes.indexOf("\r\nSubject: ") + 11;
    return QString::fromUtf8(message.bytes.mid(from, message.bytes.indexOf("\r\n", from) - from));
}

QByteArray accountFile()
{
    return "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=1\r\n";
}

bool isJapanese(const QString& text)
{
    for (const QChar c : text) {
        if ((c.unicode() >= 0x3040 && c.unicode() <= 0x30FF) ||
            (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF))
            return true;
    }
    return false;
}

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString errnoText(const char* what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") +
           QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool privateMounts(QString* why)
{
    static int state = 0; // 0 not tried, 1 ready, -1 impossible
    static QString reason;
    if (state == 0) {
        state = -1;
        if (::geteuid() != 0) {
            reason = QStringLiteral("mounting needs root");
        } else if (::unshare(CLONE_NEWNS) != 0) {
            reason = errnoText("unshare(CLONE_NEWNS)");
        } else if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            reason = errnoText("mount --make-rprivate /");
        } else {
            state = 1;
        }
    }
    if (why)
        *why = reason;
    return state == 1;
}

SmallDisk::SmallDisk(const QString& folder, qint64 bytes) : m_folder(folder)
{
    // The cases count the room they leave in pages of this size.
    if (::sysconf(_SC_PAGESIZE) != 4096) {
        m_why = QStringLiteral("memory pages are not 4096 bytes");
        return;
    }
    if (!privateMounts(&m_why))
        return;
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    if (::mount("corvidan-test", native(folder).constData(), "tmpfs", 0, options.constData()) !=
        0) {
        m_why = errnoText("mount tmpfs");
        return;
    }
    m_mounted = true;
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        ::umount2(native(m_folder).constData(), MNT_DETACH);
}

qint64 SmallDisk::freeBytes() const
{
    struct statvfs st {};
    if (::statvfs(native(m_folder).constData(), &st) != 0)
        return -1;
    return static_cast<qint64>(st.f_bavail) * static_cast<qint64>(st.f_frsize);
}

bool SmallDisk::leaveFree(qint64 bytes)
{
    const qint64 page = 4096;
    const qint64 fill = (freeBytes() - bytes) / page * page;
    if (fill < 0)
        return false;
    const int fd = ::open(native(m_folder + QStringLiteral("/.filler")).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const QByteArray zeros(page, '\0');
    for (qint64 done = 0; done < fill; done += page) {
        if (::write(fd, zeros.constData(), page) != page) {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return freeBytes() == bytes;
}

void SmallDisk::makeRoom()
{
    ::unlink(native(m_folder + QStringLiteral("/.filler")).constData());
}

ReadOnlyFolder::ReadOnlyFolder(const QString& folder) : m_folder(folder)
{
    if (::geteuid() == 0) {
        if (!privateMounts(&m_why))
            return;
        const QByteArray at = native(folder);
        if (::mount(at.constData(), at.constData(), nullptr, MS_BIND, nullptr) != 0) {
            m_why = errnoText("bind mount");
            return;
        }
        m_mounted = true;
        if (::mount(nullptr, at.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) !=
            0) {
            m_why = errnoText("remount read-only");
            return;
        }
    } else {
        QDirIterator it(folder, QDir::Files | QDir::Hidden);
        QStringList paths;
        while (it.hasNext())
            paths << it.next();
        paths << folder;
        for (const QString& path : paths) {
            struct stat st {};
            if (::stat(native(path).constData(), &st) != 0)
                continue;
            m_modes.emplace_back(path, st.st_mode & 07777);
            ::chmod(native(path).constData(), st.st_mode & 07555);
        }
    }
    // Whatever made it so, the folder must refuse a new file.
    const QByteArray probe = native(folder + QStringLiteral("/.probe"));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.constData());
        m_why = QStringLiteral("the folder stays writable");
        return;
    }
    m_active = true;
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (m_mounted)
        ::umount2(native(m_folder).constData(), MNT_DETACH);
    for (auto it = m_modes.rbegin(); it != m_modes.rend(); ++it)
        ::chmod(native(it->first).constData(), it->second);
}

} // namespace corvidan::test::badfiles
