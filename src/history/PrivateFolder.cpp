#include "history/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace corvidan::history {

namespace {

constexpr QFileDevice::Permissions OwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions OwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool makeOwnerOnlyFolder(const QString& path)
{
    return QDir().mkdir(path) && QFile::setPermissions(path, OwnerOnlyFolder);
}

} // namespace

PrivateFolder::PrivateFolder() = default;

PrivateFolder::~PrivateFolder() = default;

bool PrivateFolder::ensureFolder()
{
    if (m_dir && m_dir->isValid())
        return true;
    // mkdtemp already makes the folder 0700; the explicit mode is for platforms that do not.
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/corvidan-XXXXXX"));
    return m_dir->isValid() && QFile::setPermissions(m_dir->path(), OwnerOnlyFolder);
}

QString PrivateFolder::write(const QString& name, const QByteArray& data)
{
    if (!ensureFolder())
        return {};
    const QString folder = m_dir->filePath(QString::number(++m_written));
    if (!makeOwnerOnlyFolder(folder))
        return {};
    const QString path = folder + u'/' + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnlyFile))
        return {};
    if (file.write(data) != data.size() || !file.flush()) {
        file.remove();
        return {};
    }
    return path;
}

} // namespace corvidan::history
