#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QTemporaryDir;

namespace corvidan::history {

/// A folder only its owner can enter (0700), for copies handed to other
/// programs (a browser, a viewer for an attachment); it and its files go when
/// this object goes.
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    /// Writes `data` as a new owner-only (0600) file named `name` in a fresh
    /// subfolder, so the name shown by the other program stays the sender's.
    /// The path, or empty when it could not be written.
    QString write(const QString& name, const QByteArray& data);

private:
    bool ensureFolder();

    std::unique_ptr<QTemporaryDir> m_dir;
    int m_written = 0;
};

} // namespace corvidan::history
