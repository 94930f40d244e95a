#pragma once

#include "storage/MailRecord.h"
#include "support/ScriptedMailbox.h"
#include "transport/ReceiveMail.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace corvidan::test::badfiles {

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
void appendFile(const QString& path, const QByteArray& bytes);

/// A record as the program writes it (Live 1, CR LF), numbered `i` in subject and body.
storage::MailRecord numberedMail(const QString& tag, int i);

/// Subjects of the whole records of a history file; `tornTail` gets the bytes after them.
QStringList historySubjects(const QString& path, qint64* tornTail = nullptr);

struct Message {
    QString uid;
    QString subject;
    QString body;
};
/// `count` waiting messages "お知らせ [tag-k]" with a Japanese body.
std::vector<Message> mailbox(const QString& tag, int count);

/// The receive's library calls over a mailbox that applies deletions only on a
/// confirmed close, as a POP3 server does.
class ScriptedMailbox final : public transport::Mailbox {
public:
    explicit ScriptedMailbox(std::vector<Message>& box) : m_box(box) {}

    int connects = 0;
    QString lastId, lastPassword;

    bool connect(const QString& server) override;
    int login(const QString& id, const QString& password, bool apop) override;
    QString uniqueId(int n) override;
    transport::MailboxFetch fetch(int n) override;
    bool remove(int n) override;
    bool close() override;
    transport::NetError error() const override { return {}; }

private:
    std::vector<Message>& m_box;
    std::vector<bool> m_marked;
};

/// A receive host without windows that keeps every message box.
using RecordingHost = test::RecordingReceiveHost;

inline const QString kServer = QStringLiteral("pop.example.jp");

/// The account file's bytes for id "taro", password "secret".
QByteArray accountFile();

/// True when `text` holds Japanese (kana or kanji), the language of every message.
bool isJapanese(const QString& text);

/// Lets this thread mount file systems that no other process sees: a private
/// mount namespace, which needs root. False (with the reason) where it cannot.
bool privateMounts(QString* why);

/// A small tmpfs mounted over `folder` for the life of the object; the folder
/// shows empty while it is mounted. Its room is counted in 4096-byte pages.
class SmallDisk {
public:
    SmallDisk(const QString& folder, qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    const QString& why() const { return m_why; }
    qint64 freeBytes() const;
    /// Fills the disk with a filler file until `bytes` (whole pages) are left.
    bool leaveFree(qint64 bytes);
    /// Removes the filler: the user made room.
    void makeRoom();

private:
    QString m_folder;
    bool m_mounted = false;
    QString m_why;
};

/// `folder` and every file in it made unwritable for the life of the object: a
/// read-only bind mount for root, whom permissions do not stop, permissions otherwise.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool active() const { return m_active; }
    const QString& why() const { return m_why; }

private:
    QString m_folder;
    bool m_mounted = false;
    bool m_active = false;
    QString m_why;
    std::vector<std::pair<QString, unsigned>> m_modes;
};

} // namespace corvidan::test::badfiles
