#include "common/AppDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace corvidan::common {

AppDir::AppDir(QString root) : m_root(QDir::cleanPath(std::move(root))) {}

AppDir AppDir::ofExecutable()
{
    return AppDir(QCoreApplication::applicationDirPath());
}

QString AppDir::path(QStringView windowsRelative) const
{
    const QStringList parts = windowsRelative.toString().split(u'\\', Qt::SkipEmptyParts);
    QString resolved = resolveIgnoringCase(m_root, parts);
    // A trailing backslash names a folder; keep it so callers can append names.
    if (windowsRelative.endsWith(u'\\'))
        resolved += u'/';
    return resolved;
}

static QString matchEntry(const QString& dir, const QString& name)
{
    if (name == u"." || name == u"..")
        return name;
    if (QFileInfo::exists(dir + u'/' + name))
        return name;
    const QStringList entries =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return name;
}

QString resolveIgnoringCase(const QString& base, const QStringList& components)
{
    QString current = base;
    for (const QString& component : components)
        current += u'/' + matchEntry(current, component);
    return current;
}

} // namespace corvidan::common
