#pragma once

#include "texts/ErrorText.h"
#include "transport/ReceiveMail.h"

#include <QStringList>
#include <functional>
#include <vector>

namespace corvidan::test {

/// A POP3 mailbox behind the receive's calls: raw messages, a log of every call
/// in order, deletions applied only when a confirmed close applies them (as a
/// server does), and hooks where a test changes the world mid-run.
class ScriptedMailbox final : public transport::Mailbox {
public:
    struct Message {
        Message() = default;
        Message(QString id, QByteArray content) : uid(std::move(id)), bytes(std::move(content)) {}
        QString uid;
        QByteArray bytes;
        transport::MailboxFetch::Status status = transport::MailboxFetch::Status::Ok;
        transport::NetError error;
    };

    std::vector<Message> box;
    std::vector<QString> log;
    bool connectOk = true;
    /// Login result; by default the number of messages.
    std::optional<int> loginResult;
    bool confirmClose = true;
    /// What error() says: the server's words, unless a failure of a kind is scripted.
    QString errorText = QStringLiteral("-ERR [AUTH] Authentication failed.");
    transport::NetError netError;
    bool lastApop = false;
    /// Connections asked for, and the account of the last login.
    int connects = 0;
    QString lastId, lastPassword;
    /// Called at every call of the receive, before it acts (a kill test ends the process here).
    std::function<void()> onStep;
    std::function<void(int n)> onFetch;
    std::function<void(int n)> onDelete;
    /// Called once a confirmed close has applied the deletions.
    std::function<void(const std::vector<Message>&)> onApplied;

    bool connect(const QString& server) override;
    int login(const QString& id, const QString& password, bool apop) override;
    QString uniqueId(int n) override;
    transport::MailboxFetch fetch(int n) override;
    bool remove(int n) override;
    bool close() override;
    transport::NetError error() const override
    {
        if (netError.isError())
            return netError;
        transport::NetError words;
        words.kind = transport::NetErrorKind::Other;
        words.detail = errorText;
        return words;
    }

    bool called(const QString& prefix) const;
    /// A plain UTF-8 message with these fields.
    static QByteArray text(const QString& subject, const QString& body,
                           const QString& from = QStringLiteral("差出人 <from@example.jp>"),
                           const QString& date = QStringLiteral("Tue, 08 Dec 2026 09:00:00 +0900"));
    void add(const QString& uid, const QString& subject, const QString& body);

private:
    void step();
    std::vector<bool> m_marked;
};

/// Records everything a receive shows; cancels after a number of stored messages.
class RecordingReceiveHost final : public transport::ReceiveHost {
public:
    struct Box {
        QString text;
        QString title;
        bool operator==(const std::pair<QString, QString>& other) const
        {
            return text == other.first && title == other.second;
        }
    };
    QStringList statusLines;
    QString resultLine;
    QString picture;
    QString accountId, accountPassword;
    bool accountRequested = false;
    std::vector<Box> boxes;
    std::vector<transport::ReceivedMessage> shown;
    std::int16_t currentRecordNo = 0;
    storage::MailRecord receivedRecord;
    std::vector<std::pair<int, int>> progressCalls;
    int cancelAfterStored = -1;
    std::function<void()> onStep;

    void setStatusLine(const QString& t) override { step(), statusLines << t; }
    void setResultLine(const QString& t) override { step(), resultLine = t; }
    void showNewMailPicture(const QString& p) override { step(), picture = p; }
    void setAccount(const QString& id, const QString& pw) override { step(), accountId = id, accountPassword = pw; }
    void requestAccount() override { step(), accountRequested = true; }
    /// Every notice as the core gave it, and as the front end's table words it in `boxes`.
    std::vector<transport::ReceiveNotice> notices;
    void notify(const transport::ReceiveNotice& notice) override
    {
        step();
        notices.push_back(notice);
        boxes.push_back({texts::ReceiveNoticeText(notice), texts::ReceiveNoticeTitle(notice)});
    }
    void showMessage(const transport::ReceivedMessage& m) override
    {
        step();
        shown.push_back(m);
        boxesAtShow.push_back(boxes.size());
    }
    void setCurrentRecordNo(std::int16_t n) override { step(), currentRecordNo = n; }
    void setReceivedRecord(const storage::MailRecord& r) override { step(), receivedRecord = r; }
    void progress(int i, int n) override { step(), progressCalls.emplace_back(i, n); }
    bool cancelRequested() override
    {
        step();
        return cancelAfterStored >= 0 && int(shown.size()) >= cancelAfterStored;
    }

    /// The texts of the boxes shown after message `i - 1` and before message `i`.
    QStringList boxesOf(size_t i) const
    {
        QStringList texts;
        const size_t from = i == 0 ? 0 : boxesAtShow.at(i - 1);
        for (size_t b = from; b < boxesAtShow.at(i); ++b)
            texts << boxes[b].text;
        return texts;
    }

private:
    std::vector<size_t> boxesAtShow; // boxes.size() when each message was shown

    void step()
    {
        if (onStep)
            onStep();
    }
};

inline void PrintTo(const RecordingReceiveHost::Box& box, std::ostream* os)
{
    *os << '"' << box.text.toStdString() << "\" / \"" << box.title.toStdString() << '"';
}

} // namespace corvidan::test
