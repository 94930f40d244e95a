#include "support/ScriptedMailbox.h"

#include <algorithm>

namespace corvidan::test {

using transport::MailboxFetch;

void ScriptedMailbox::step()
{
    if (onStep)
        onStep();
}

bool ScriptedMailbox::connect(const QString& server)
{
    step();
    log.push_back(QStringLiteral("connect ") + server);
    ++connects;
    return connectOk;
}

int ScriptedMailbox::login(const QString& id, const QString& password, bool apop)
{
    step();
    log.push_back(QStringLiteral("login ") + id + u'/' + password);
    lastApop = apop;
    lastId = id;
    lastPassword = password;
    m_marked.assign(box.size(), false);
    return loginResult.value_or(int(box.size()));
}

QString ScriptedMailbox::uniqueId(int n)
{
    return n >= 1 && n <= int(box.size()) ? box[n - 1].uid : QString();
}

MailboxFetch ScriptedMailbox::fetch(int n)
{
    step();
    log.push_back(QStringLiteral("fetch %1").arg(n));
    if (onFetch)
        onFetch(n);
    const Message& m = box.at(n - 1);
    MailboxFetch out;
    out.status = m.status;
    out.listedSize = m.bytes.size();
    out.error = m.error;
    if (m.status == MailboxFetch::Status::Ok)
        out.bytes = m.bytes;
    return out;
}

bool ScriptedMailbox::remove(int n)
{
    step();
    log.push_back(QStringLiteral("dele %1").arg(n));
    m_marked.at(n - 1) = true;
    if (onDelete)
        onDelete(n);
    return true;
}

bool ScriptedMailbox::close()
{
    step();
    log.push_back(QStringLiteral("close"));
    if (!confirmClose)
        return false;
    std::vector<Message> kept;
    for (size_t i = 0; i < box.size(); ++i)
        if (i >= m_marked.size() || !m_marked[i])
            kept.push_back(box[i]);
    box = kept;
    m_marked.assign(box.size(), false);
    if (onApplied)
        onApplied(box);
    step(); // deletions applied, the client not yet told
    return true;
}

bool ScriptedMailbox::called(const QString& prefix) const
{
    return std::any_of(log.begin(), log.end(), [&](const QString& l) { return l.startsWith(prefix); });
}

QByteArray ScriptedMailbox::text(const QString& subject, const QString& body, const QString& from,
                                 const QString& date)
{
    return QStringLiteral("From: %1\r\nSubject: %2\r\nDate: %3\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n%4")
        .arg(from, subject, date, body)
        .toUtf8();
}

void ScriptedMailbox::add(const QString& uid, const QString& subject, const QString& body)
{
    box.push_back({uid, text(subject, body)});
}

} // namespace corvidan::test
