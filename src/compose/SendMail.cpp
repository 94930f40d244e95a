#include "compose/SendMail.h"

#include "common/FixedField.h"
#include "storage/AddressBookFile.h"
#include "storage/HistoryFile.h"
#include "storage/Originals.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

namespace corvidan::compose {

QString trimTrailingBlanks(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == u' ')
        --end;
    return text.left(end);
}

namespace fortune {

const QString Header = QStringLiteral("★★★　この占いは アトランダムにチョイスしたものです（だからこそ占い♪）　送信者にも内容は判りませんので、あしからず・・・当たるも八卦、当たらぬも八卦。★★★");

const std::array<QString, 13> Texts = {
    QString(),
    QStringLiteral("大吉：万事に良し！　慎重さを忘れず、尚かつアクティブに行動すれば、これまで停滞していた問題が次々と解決されて行きます。"),
    QStringLiteral("大吉：思わぬ金運！！　浪費せず生きたお金の使い方を心がければ、これからも金運が上昇！"),
    QStringLiteral("大吉：人間関係に好転あり。誤解から生じていた軋轢（あつれき）も解消し、お互いが良く見えるようになって行きます。"),
    QStringLiteral("中吉：正しく可もなく不可もなし。凶事のなきことを素直に喜ぶべし。そうすれば尚運が開けます。"),
    QStringLiteral("中吉：ほのぼの、小さな幸福感を味わえる一日。その満足を他人にも分け与えれば、明日は更に運気アップ！"),
    QStringLiteral("中吉：万事スムーズ。しかし油断をすればたちまちにして運気下降。恐れぬことも大事ではあるが、謙虚さを忘れずに判断・行動をすべし。"),
    QStringLiteral("中吉：両親からの教えを胸に刻んで行動すれば、意外なほどの好調に思わずニンマリ！　"),
    QStringLiteral("中吉：ショッピングでのストレス発散が好転の契機となる。それでも浪費に注意。本当に必要な物に限定すべし。"),
    QStringLiteral("吉：あなたの人柄で救われる局面有り。友人を大切にすれば、思わぬ人と再会するでしょう。"),
    QStringLiteral("吉：紛失していたにもかかわらず気づいてなかった品物が、突然手元に戻ってきます。忘れていたけど、案外大切なもの・・・物とは限りません。"),
    QStringLiteral("凶：鬼門「北東」注意！　部屋の北東に一掴みの盛り塩をし、お世話になった人たちに感謝の意を心に強く念じれば、吉に転じます。"),
    QStringLiteral("凶：言動慎むべし。最大の配慮がなければ、運気、万事下降するおそれ有り。"),
};

int indexFor(double r)
{
    const int k = static_cast<int>(std::floor(r * Count + 1));
    return std::clamp(k, 1, Count);
}

QString block(int k)
{
    const QString crlf = QStringLiteral("\r\n");
    return crlf + crlf + Header + crlf + crlf + Texts.at(std::clamp(k, 1, Count));
}

float drawFromClock()
{
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::mt19937 generator(static_cast<std::uint32_t>(now ^ (now >> 32)));
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    const float r = uniform(generator);
    // Some library versions can round a float draw up to 1.0.
    return r < 1.0f ? r : std::nextafter(1.0f, 0.0f);
}

} // namespace fortune

storage::MailRecord sentRecordFor(const SendInput& input, const QString& body)
{
    storage::MailRecord record;
    record.Subject = trimBlanks(input.subject);
    record.Date = input.clockText ? input.clockText() : QString();
    record.Address = trimBlanks(input.to);
    record.Body = trimBlanks(body);
    record.Live = 1;
    return record;
}

QString unreadableAttachment(const QString& attachments)
{
    if (attachments.isEmpty())
        return {};
    for (const QString& path : attachments.split(u',')) {
        QFile file(path);
        if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
            return path.isEmpty() ? QStringLiteral("(空のファイル名)") : path;
    }
    return {};
}

QString keptFailureText(const common::Status& status)
{
    return QStringLiteral("送信するメールの原文を保存できないため、送信しませんでした。\r\n") + status.detail();
}

QString unreadableAttachmentText(const QString& path)
{
    return QStringLiteral("添付ファイルを読み込めません。\r\n") + path;
}

QString SendMailOperation::sendingText()
{
    return QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
}

QString bulkSummaryText(const SendOutcome& outcome)
{
    QString text = QStringLiteral("%1件送信しました。").arg(outcome.sent);
    if (outcome.failures.empty())
        return text;
    text += QStringLiteral("\r\n送信できなかった宛先（%1件）:").arg(outcome.failures.size());
    for (const SendOutcome::Failure& f : outcome.failures) {
        const QString who = f.recipient.isEmpty() ? QStringLiteral("（宛先なし）") : f.recipient;
        text += QStringLiteral("\r\n") + who + QStringLiteral(" : ") + f.reason.trimmed();
    }
    return text;
}

QString SendMailOperation::recipientFor(const SendInput& input, int pass) const
{
    if (!input.bulk)
        return input.to;
    const auto book = storage::AddressBookFile::addressBook(m_appDir);
    const auto record = book.ReadRecord(input.listRecordNo.at(pass - 1));
    // A record that vanished since the list was filled leaves no recipient; the
    // server then refuses that pass and the user sees why.
    return record ? trimTrailingBlanks(record->Address) : QString();
}

namespace {
/// Takes back record `n` if it is still the one written; a record someone else
/// changed meanwhile is left alone.
void withdrawRecord(storage::HistoryFile& file, int n, const storage::MailRecord& record)
{
    // A withdrawal that fails leaves the record as it was: never half deleted.
    if (n == file.RecordCount())
        (void)file.DeleteRecord(n, record.toBytes());
}
} // namespace

SendOutcome SendMailOperation::run(SendInput& input)
{
    SendOutcome outcome;
    m_observer.status(sendingText());
    const int passes = input.bulk ? static_cast<int>(input.listRecordNo.size()) : 1;
    if (passes == 0)
        return outcome;

    storage::HistoryFile sent(m_appDir, storage::HistoryKind::Sent);
    const storage::Originals originals(m_appDir, storage::HistoryKind::Sent);
    m_sender.beginBatch(passes);
    for (int i = 1; i <= passes; ++i) {
        const QString recipient = recipientFor(input, i);
        m_observer.status(sendingText());
        m_observer.progress(i, passes);
        if (m_observer.shouldStop())
            break;
        ++outcome.passes;

        // The record comes first so that nothing leaves without a trace in the history.
        const auto n = sent.NextRecordNo();
        const storage::MailRecord record = sentRecordFor(input, input.body);
        const common::Status written =
            n ? sent.WriteRecord(*n, record)
              : common::Status::fail(common::ErrorCode::TooManyRecords, sent.path());
        if (!written) {
            outcome.aborted = true;
            m_observer.recordFailed(written);
            break;
        }
        m_observer.recordWritten(*n, record);

        if (input.fortune) {
            const float r = input.random ? input.random() : fortune::drawFromClock();
            input.body += fortune::block(fortune::indexFor(r));
            m_observer.bodyChanged(input.body);
        }

        const auto failPass = [&](const QString& text) {
            ++outcome.failed;
            outcome.failures.push_back({recipient, text});
            // A single message that did not leave must not look sent: its record, the
            // last one, goes again while the window keeps the message for another try.
            if (!input.bulk)
                withdrawRecord(sent, *n, record);
            m_observer.sendFailed(text);
        };
        const QString badAttachment = unreadableAttachment(input.attachments);
        if (!badAttachment.isEmpty()) {
            failPass(unreadableAttachmentText(badAttachment));
            continue;
        }
        const QByteArray recordBytes = record.toBytes();
        const OutgoingMail mail{input.smtpServer, recipient,  input.sender,     input.subject,
                                input.body,       input.attachments,
                                [&](QByteArrayView bytes) { return originals.Store(recordBytes, bytes); }};
        if (m_sender.send(mail) < 0) {
            failPass(m_sender.lastError());
        } else {
            ++outcome.sent;
        }
    }
    m_sender.endBatch();
    return outcome;
}

} // namespace corvidan::compose
