#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace corvidan::test::torture {

/// How long a torture suite may run and how many kills it tries. CI runs are
/// bounded by `ciSeconds`; CORVIDAN_TORTURE_ITERATIONS=N asks for N kills per
/// suite and lifts the time bound (CORVIDAN_TORTURE_SECONDS sets one again).
class Budget {
public:
    Budget(int ciIterations, double ciSeconds);
    /// True while another kill may start.
    bool more(int done) const;
    bool longMode() const { return m_long; }
    int iterations() const { return m_iterations; }

private:
    int m_iterations;
    double m_seconds;
    bool m_long = false;
    QElapsedTimer m_clock;
};

/// A child process started with posix_spawn, its output going to `logPath`.
pid_t spawn(const QString& program, const QStringList& args, const QString& logPath);

/// Waits for the child; its exit status, or -signal when a signal ended it.
int waitFor(pid_t pid);

/// Sleeps `delayUs`, then SIGKILLs the child and reaps it. True when the kill
/// hit a running process, false when it had already finished by itself.
bool killAfter(pid_t pid, qint64 delayUs);

/// What a history file holds, record by record, with every fault it has.
struct HistoryScan {
    int first = 1;
    int records = 0; ///< whole records in the file, including those before `first`
    qint64 tornTailBytes = 0;
    QStringList problems; ///< bad line ends or live flags, unreadable file
    QStringList subjects;
    QStringList bodies;
    QList<short> live;
};
/// Reads records from `first` (1-based) to the end.
HistoryScan scanHistory(const QString& path, int first = 1);

/// Every "[tag]" marker (tag matching `pattern`, a regular expression) in `text`.
QStringList markersIn(const QString& text, const QString& pattern);

QByteArray readAll(const QString& path);

} // namespace corvidan::test::torture
