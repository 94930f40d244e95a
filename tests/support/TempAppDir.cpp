#include "support/TempAppDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace corvidan::test {

namespace {
void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString rel = QDir(from).relativeFilePath(src);
        const QString dst = to + u'/' + rel;
        if (it.fileInfo().isDir())
            QDir().mkpath(dst);
        else
            QFile::copy(src, dst);
    }
}
} // namespace

QString sourcePath(const QString& relative)
{
    return QStringLiteral(CORVIDAN_SOURCE_DIR) + u'/' + relative;
}

QString mailCorpusDir()
{
    const QByteArray env = qgetenv("CORVIDAN_MAIL_CORPUS");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    // Beside the checkout; a clone made elsewhere falls back to the shared folder.
    const QStringList candidates = {QDir::cleanPath(sourcePath(QStringLiteral("../shared/mail-corpus"))),
                                    QStringLiteral("/work/shared/mail-corpus")};
    for (const QString& dir : candidates) {
        if (QFileInfo::exists(dir + QStringLiteral("/README.md")))
            return dir;
    }
    return candidates.first();
}

TempAppDir::TempAppDir(bool withAssets)
{
    if (withAssets) {
        copyTree(sourcePath(QStringLiteral("assets/appdir")), m_dir.path());
        for (const char* folder : {"★MAilData", "添付フォルダ", "背景画像", "新着画像", "顔文字データ",
                                   "■TextQuickSave"})
            QDir(m_dir.path()).mkpath(QString::fromUtf8(folder));
    } else {
        QDir(m_dir.path()).mkpath(QStringLiteral("★MAilData"));
    }
    // Files are copied read-only from some checkouts; tests need to write them.
    QDirIterator it(m_dir.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::setPermissions(it.next(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QByteArray TempAppDir::read(QStringView windowsRelative) const
{
    QFile f(path(windowsRelative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void TempAppDir::write(QStringView windowsRelative, const QByteArray& bytes) const
{
    const QString p = path(windowsRelative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

} // namespace corvidan::test
