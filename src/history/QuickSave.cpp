#include "history/QuickSave.h"

#include "common/Cp932.h"
#include "common/Durable.h"

#include <QDir>
#include <QFileInfo>

namespace corvidan::history {

namespace {

constexpr char16_t Replacement = u'_';
const QString Extension = QStringLiteral(".txt");
// The file system takes 255 bytes per name; the atomic write adds ".part".
constexpr qsizetype MaxNameBytes = 255 - 5;

bool forbiddenInName(QChar c)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    return c.unicode() < 0x20 || c.unicode() == 0x7F || forbidden.contains(c);
}

bool isReservedDeviceName(const QString& stem)
{
    // Windows reserves these with any extension, so "CON.txt" is a device too.
    const QString base = stem.section(u'.', 0, 0).trimmed().toUpper();
    static const QStringList fixed = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                      QStringLiteral("AUX"), QStringLiteral("NUL")};
    if (fixed.contains(base))
        return true;
    if (base.size() == 4 && (base.startsWith(QStringLiteral("COM")) ||
                             base.startsWith(QStringLiteral("LPT"))))
        return base.at(3) >= u'1' && base.at(3) <= u'9';
    return false;
}

QString cutToBytes(const QString& stem, qsizetype maxBytes)
{
    QString out = stem;
    while (out.toUtf8().size() > maxBytes) {
        out.chop(1);
        if (!out.isEmpty() && out.back().isHighSurrogate())
            out.chop(1);
    }
    return out;
}

} // namespace

QString quickSaveFileName(const QString& subject)
{
    QString stem;
    stem.reserve(subject.size());
    for (QChar c : subject)
        stem += forbiddenInName(c) ? QChar(Replacement) : c;
    if (isReservedDeviceName(stem))
        stem.prepend(QChar(Replacement));
    return cutToBytes(stem, MaxNameBytes - Extension.toUtf8().size()) + Extension;
}

QString quickSavePath(const common::AppDir& appDir, const QString& subject)
{
    const QString folder = appDir.path(common::paths::QuickSaveFolder);
    const QString name = quickSaveFileName(subject);
    return common::resolveIgnoringCase(QDir::cleanPath(folder), {name});
}

common::Status writeQuickSave(const QString& path, const QString& messageText)
{
    QByteArray bytes = common::cp932::encode(messageText + QStringLiteral("\r\n"));
    return common::durable::replaceFile(path, bytes);
}

} // namespace corvidan::history
