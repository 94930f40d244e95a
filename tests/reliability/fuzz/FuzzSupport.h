#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

/// What every fuzz target shares: a scratch folder per input on a fast file
/// system, a check that stops the run with the failing input saved, and the
/// independent expectations for text stored in fixed-width fields.
namespace corvidan::fuzz {

/// Reports `what` and aborts, so libFuzzer keeps the input that caused it.
[[noreturn]] void fail(const char* what, const QString& detail = {});

#define FUZZ_CHECK(condition, detail)                                                            \
    do {                                                                                         \
        if (!(condition))                                                                        \
            ::corvidan::fuzz::fail(#condition, (detail));                                        \
    } while (false)

/// A fresh empty folder for one input, removed with everything in it at scope end.
/// Lives on /dev/shm when it can: the storage code flushes every write.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const QString& path() const { return m_path; }
    QString file(const QString& name) const { return m_path + u'/' + name; }
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;

private:
    QString m_path;
};

/// Every entry below `root` as a path relative to it, folders ending in "/".
QStringList treeBelow(const QString& root);

/// What a field of `width` bytes must read back as after `text` was written into
/// it: the first `width` UTF-16 units, each character through code page 932 on
/// its own (GETA MARK for one it lacks), whole characters only, blank padding,
/// cut at a NUL.
QString expectedField(const QString& text, int width);

/// Printable form of a text for failure reports (controls and non-ASCII escaped).
QString visible(const QString& text, int limit = 400);

} // namespace corvidan::fuzz
