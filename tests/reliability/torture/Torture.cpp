#include "Torture.h"

#include "common/FixedField.h"
#include "storage/MailRecord.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace corvidan::test::torture {

Budget::Budget(int ciIterations, double ciSeconds) : m_iterations(ciIterations), m_seconds(ciSeconds)
{
    bool ok = false;
    const int asked = qEnvironmentVariableIntValue("CORVIDAN_TORTURE_ITERATIONS", &ok);
    if (ok && asked > 0) {
        m_iterations = asked;
        m_seconds = 0;
        m_long = true;
    }
    const int seconds = qEnvironmentVariableIntValue("CORVIDAN_TORTURE_SECONDS", &ok);
    if (ok && seconds > 0)
        m_seconds = seconds;
    m_clock.start();
}

bool Budget::more(int done) const
{
    if (done >= m_iterations)
        return false;
    return m_seconds <= 0 || m_clock.elapsed() < m_seconds * 1000.0;
}

pid_t spawn(const QString& program, const QStringList& args, const QString& logPath)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString& a : args)
        storage.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray log = QFile::encodeName(logPath);
    posix_spawn_file_actions_addopen(&actions, 1, log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1000;
    }
    if (WIFSIGNALED(status))
        return -WTERMSIG(status);
    return WEXITSTATUS(status);
}

bool killAfter(pid_t pid, qint64 delayUs)
{
    if (delayUs > 0)
        ::usleep(static_cast<useconds_t>(delayUs));
    ::kill(pid, SIGKILL);
    return waitFor(pid) == -SIGKILL;
}

HistoryScan scanHistory(const QString& path, int first)
{
    using storage::MailRecord;
    HistoryScan scan;
    scan.first = first;
    QFile file(path);
    if (!file.exists())
        return scan;
    if (!file.open(QIODevice::ReadOnly) || !file.seek(qint64(first - 1) * MailRecord::Size)) {
        scan.problems << path + QStringLiteral(": cannot read");
        return scan;
    }
    const QByteArray bytes = file.readAll();
    scan.records = first - 1 + static_cast<int>(bytes.size() / MailRecord::Size);
    scan.tornTailBytes = bytes.size() % MailRecord::Size;
    for (int i = 0; i < scan.records - (first - 1); ++i) {
        const char* rec = bytes.constData() + qsizetype(i) * MailRecord::Size;
        if (rec[MailRecord::LineEndOffset] != '\r' || rec[MailRecord::LineEndOffset + 1] != '\n')
            scan.problems << QStringLiteral("record %1: line end is not CR LF").arg(first + i);
        const short live = common::readInt16LE(rec + MailRecord::LiveOffset);
        if (live != 0 && live != 1)
            scan.problems << QStringLiteral("record %1: live flag %2").arg(first + i).arg(live);
        const MailRecord record = MailRecord::fromBytes(rec);
        scan.subjects << record.Subject;
        scan.bodies << record.Body;
        scan.live << live;
    }
    return scan;
}

QStringList markersIn(const QString& text, const QString& pattern)
{
    QStringList found;
    const QRegularExpression re(QStringLiteral("\\[(") + pattern + QStringLiteral(")\\]"));
    for (auto it = re.globalMatch(text); it.hasNext();)
        found << it.next().captured(1);
    return found;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace corvidan::test::torture
