#include "FuzzSupport.h"

#include "common/Cp932.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace corvidan::fuzz {

namespace {

QString baseFolder()
{
    static const QString base = [] {
        const QString shm = QStringLiteral("/dev/shm");
        const QString root = QFileInfo(shm).isDir() && ::access("/dev/shm", W_OK) == 0 ? shm : QDir::tempPath();
        const QString mine = root + QStringLiteral("/corvidan-fuzz-") + QString::number(::getpid());
        QDir().mkpath(mine);
        // Each input cleans up after itself; this takes the per-run folder too. The
        // path is kept apart from this static, which is gone by the time the handler runs.
        static QString* const atExit = new QString(mine);
        std::atexit([] { QDir(*atExit).removeRecursively(); });
        return mine;
    }();
    return base;
}

} // namespace

void fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "\n*** fuzz check failed: %s\n%s\n", what, detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

Scratch::Scratch()
{
    static unsigned long long serial = 0;
    m_path = baseFolder() + QStringLiteral("/in") + QString::number(++serial);
    QDir(m_path).removeRecursively();
    if (!QDir().mkpath(m_path))
        fail("scratch folder", m_path);
}

Scratch::~Scratch()
{
    // Attachments may have made a file read-only or a folder unlistable; open them up.
    QDirIterator it(m_path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::setPermissions(it.next(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir(m_path).removeRecursively();
}

void Scratch::write(const QString& name, const QByteArray& bytes) const
{
    QFile file(this->file(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail("scratch write", file.fileName());
}

QByteArray Scratch::read(const QString& name) const
{
    QFile file(this->file(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList treeBelow(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        out << base.relativeFilePath(path) + (info.isDir() && !info.isSymLink() ? QStringLiteral("/") : QString());
    }
    out.sort();
    return out;
}

namespace {

/// One character (one or two UTF-16 units) in code page 932, remembered: bodies
/// run to 32000 characters and a converter per character is slow.
const QByteArray& characterBytes(QStringView character)
{
    static QHash<QString, QByteArray> known;
    const QString key = character.toString();
    if (const auto it = known.constFind(key); it != known.cend())
        return *it;
    QStringEncoder one("windows-31j");
    QByteArray piece = one.encode(common::cp932::foldToMicrosoft(character));
    if (one.hasError() || piece.isEmpty())
        piece = QStringEncoder("windows-31j").encode(QStringView(u"〓"));
    return *known.insert(key, piece);
}

} // namespace

QString expectedField(const QString& text, int width)
{
    const QString cut = text.left(width);
    QByteArray bytes;
    for (qsizetype i = 0; i < cut.size();) {
        const qsizetype len = cut[i].isHighSurrogate() && i + 1 < cut.size() ? 2 : 1;
        const QByteArray& piece = characterBytes(QStringView(cut).mid(i, len));
        if (bytes.size() + piece.size() > width)
            break;
        bytes += piece;
        i += len;
    }
    bytes.append(width - bytes.size(), ' ');
    QString read = QStringDecoder("windows-31j").decode(bytes);
    if (const qsizetype nul = read.indexOf(QChar(u'\0')); nul >= 0)
        read.truncate(nul);
    return read;
}

QString visible(const QString& text, int limit)
{
    QString out;
    for (QChar c : text.left(limit)) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F)
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(static_cast<uint>(u), 4, 16, QChar(u'0'));
    }
    if (text.size() > limit)
        out += QStringLiteral("…(%1 more)").arg(text.size() - limit);
    return out;
}

} // namespace corvidan::fuzz
