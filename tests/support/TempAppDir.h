#pragma once

#include "common/AppDir.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace corvidan::test {

/// A fresh AppDir in a temporary folder, laid out with the delivered folders
/// and files, removed at the end of the test.
class TempAppDir {
public:
    /// `withAssets` false gives a bare folder (only "★MAilData").
    explicit TempAppDir(bool withAssets = true);

    common::AppDir appDir() const { return common::AppDir(m_dir.path()); }
    QString root() const { return m_dir.path(); }
    /// Native path of a Windows-style relative path, resolved like the program does.
    QString path(QStringView windowsRelative) const { return appDir().path(windowsRelative); }

    QByteArray read(QStringView windowsRelative) const;
    void write(QStringView windowsRelative, const QByteArray& bytes) const;

private:
    QTemporaryDir m_dir;
};

/// Source tree path (for tests/data).
QString sourcePath(const QString& relative);
/// Folder of the shared real-world test messages.
QString mailCorpusDir();

} // namespace corvidan::test
