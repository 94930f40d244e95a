#include "texts/NetErrorText.h"

namespace corvidan::texts {

using transport::MailProtocol;
using transport::NetError;
using transport::NetErrorKind;

namespace {

struct Row {
    NetErrorKind kind;
    const char16_t* text;
};

// {server} POP3サーバー/SMTPサーバー, {host}, {port}, {names}, {expiry},
// {starttls} STLS/STARTTLS, {tlsForm} and {plainForm} settings lines to type,
// {item} the address, file or setting concerned.
constexpr Row kTable[] = {
    {NetErrorKind::BadServerName, u"{server}名「{host}」が正しくありません。設定の「POPサーバー」で確認して下さい。"},
    {NetErrorKind::HostNotFound,
     u"{server}「{host}」が見つかりません。サーバー名のつづりと、インターネットに接続されているかを確認して下さい。"},
    {NetErrorKind::Refused,
     u"{server}「{host}」(ポート{port})に接続できません。接続を拒否されました。ポート番号とサーバー名の書き方を確認して下さい。"},
    {NetErrorKind::NoAnswer,
     u"{server}「{host}」(ポート{port})から応答がなく、接続できませんでした。ポート番号とネットワークを確認して下さい"
     u"（ファイアウォールがこのポートを止めていることもあります）。"},
    {NetErrorKind::Timeout,
     u"{server}「{host}」から応答がありません(タイムアウト)。しばらくしてからもう一度試して下さい。"},
    {NetErrorKind::ConnectionLost, u"{server}「{host}」との接続が切れました。もう一度試して下さい。"},
    {NetErrorKind::PlainWhereTlsExpected,
     u"{server}「{host}」(ポート{port})に暗号化(TLS)で接続しようとしましたが、このポートは暗号化なしで応答しました。"
     u"ポート番号を確認するか、サーバー名だけ（「{host}」、{starttls}で暗号化）を設定して下さい。"},
    {NetErrorKind::TlsWherePlainExpected,
     u"{server}「{host}」(ポート{port})は最初から暗号化(TLS)で話すポートです。「{tlsForm}」と設定して下さい。"},
    {NetErrorKind::TlsFailed,
     u"{server}「{host}」との暗号化(TLS)通信を確立できません。しばらくしてからもう一度試すか、プロバイダに確認して下さい。"},
    {NetErrorKind::CertificateNameMismatch,
     u"{server}「{host}」の証明書(TLS)は別の名前（{names}）に発行されたものです。サーバー名を証明書の名前"
     u"（プロバイダの案内にあるサーバー名）に合わせて設定して下さい。"},
    {NetErrorKind::CertificateExpired,
     u"{server}「{host}」の証明書(TLS)は有効期限が切れています（{expiry}まで）。パソコンの日付が正しいかを確認し、"
     u"正しければサーバーの管理者に連絡して下さい。"},
    {NetErrorKind::CertificateUntrusted,
     u"{server}「{host}」の証明書(TLS)は信頼できる発行元のものではありません。自分で管理するサーバーなら、"
     u"その証明書(PEM)を「★MAilData」フォルダの「trusted-certificates.pem」に入れて下さい。"},
    {NetErrorKind::TrustFileUnreadable,
     u"「★MAilData」フォルダの「trusted-certificates.pem」から証明書を読み込めません。PEM形式の証明書を入れるか、"
     u"ファイルを削除して下さい。"},
    {NetErrorKind::TlsUnavailable,
     u"{server}「{host}」が暗号化({starttls})に対応していないため、パスワードを送りませんでした。"
     u"「{tlsForm}」を試して下さい。暗号化せずにパスワードを送ってよい場合に限り「{plainForm}」と設定して下さい。"},
    {NetErrorKind::TlsDowngrade,
     u"前回は暗号化できたサーバーが暗号化を拒否しました（{server}「{host}」）。通信が途中で書き換えられているおそれがあるため、"
     u"パスワードを送らずに中止しました。別のネットワークで試すか、プロバイダに確認して下さい。"},
    {NetErrorKind::LoginRefused,
     u"{server}での認証に失敗しました。設定の「ID/PASS」でＩＤ，ＰＡＳＳを確認して下さい。プロバイダによっては、"
     u"通常のパスワードではなく「アプリ パスワード」が必要です。"},
    {NetErrorKind::LoginRequired,
     u"{server}が認証を求めています。設定の「ID/PASS」でＩＤ，ＰＡＳＳを設定して下さい（送信にも受信と同じアカウントを使います）。"},
    {NetErrorKind::SenderRejected, u"送信者のメールアドレスが{server}に拒否されました。"},
    {NetErrorKind::RecipientRejected, u"宛先のメールアドレスが{server}に拒否されました。"},
    {NetErrorKind::DataRejected, u"メールの内容が{server}に拒否されました。"},
    {NetErrorKind::NotSent, u"メールを送信できませんでした。"},
    {NetErrorKind::NoServerName, u"{server}が設定されていません。"},
    {NetErrorKind::UnusableServerName, u"{server}名「{item}」が正しくありません。"},
    {NetErrorKind::NoSender, u"送信者のメールアドレスが設定されていません。"},
    {NetErrorKind::NoRecipient, u"宛先のメールアドレスが指定されていません。"},
    {NetErrorKind::BadAddress, u"メールアドレス「{item}」が正しくありません。"},
    {NetErrorKind::UnreadableAttachment, u"添付ファイル「{item}」を読み込めません。"},
    {NetErrorKind::CaFileUnreadable, u"CA証明書ファイルを読み込めません: {item}"},
    {NetErrorKind::NoSession, u"POP3の接続がありません"},
    {NetErrorKind::AttachmentNotCreated, u"添付ファイルを作成できません: {item}"},
    {NetErrorKind::PartsMissing, u"分割されたメールの一部しかありません"},
    {NetErrorKind::TlsNotSupported, u"TLSを利用できません ({host}:{port})"},
    {NetErrorKind::GreetingRefused, u"{server}が接続を拒否しました: {reply}"},
    {NetErrorKind::NotConnected, u"{server}に接続されていません"},
    {NetErrorKind::NoApopTimestamp, u"APOP認証できません: サーバーがAPOP用のタイムスタンプを送っていません ({host}:{port})"},
    {NetErrorKind::MailboxUnreadable, u"メールボックスを確認できません: {reply}"},
    {NetErrorKind::BadMessageCount,
     u"{server}の応答が正しくありません ({host}:{port}): STATのメッセージ数が正しくないか多すぎます (上限 {bound}): {reply}"},
    {NetErrorKind::ListLineTooLong, u"{server}の応答が正しくありません ({host}:{port}): 一覧の行が長すぎます: {reply}"},
    {NetErrorKind::ListNumberOutOfRange,
     u"{server}の応答が正しくありません ({host}:{port}): 一覧のメッセージ番号 {amount} はメッセージ数 {bound} を超えています"},
    {NetErrorKind::ReplyTooLong, u"{server}の応答が正しくありません ({host}:{port}): 応答が長すぎます ({bound} バイト超)"},
    {NetErrorKind::BadStatusLine, u"{server}の応答が正しくありません ({host}:{port}): {reply}"},
    {NetErrorKind::StatusLineTooLong, u"{server}の応答が正しくありません ({host}:{port}): 応答行が長すぎます"},
    {NetErrorKind::MessageTooBig,
     u"メッセージ {message} は大きすぎるため受信しません ({amountMiB} MB, 上限 {boundMiB} MB)。サーバーに残してあります。"},
    {NetErrorKind::NoSuchMessage, u"メッセージ番号が範囲外です: {message}"},
    {NetErrorKind::ReceiveCancelled, u"受信を中止しました"},
    {NetErrorKind::MessageRefused, u"メッセージ {message} を取得できません: {reply}"},
    {NetErrorKind::DeletionRefused, u"メッセージ {message} を削除できません: {reply}"},
    {NetErrorKind::QuitRefused, u"QUITを拒否されました: {reply}"},
    {NetErrorKind::SendFailed, u"{server}へ送信できません ({host}:{port}): {detail}"},
    {NetErrorKind::ReadFailed, u"{server}から読めません ({host}:{port}): {detail}"},
    {NetErrorKind::NoReply, u"{server}から応答がありません (タイムアウト, {host}:{port})"},
    {NetErrorKind::TooSlow, u"{server}からの受信が遅すぎます (タイムアウト: {boundSeconds} 秒で {amount} バイト, {host}:{port})"},
    {NetErrorKind::QuitAbandoned, u"{server}の応答が遅いため、QUITを送らずに切断しました ({host}:{port})"},
    {NetErrorKind::Disconnected, u"{server}との接続が切れました ({host}:{port})"},
    {NetErrorKind::ProbeReplyTooLong, u"{server}の応答が長すぎます"},
    {NetErrorKind::ProbeReplyMalformed, u"{server}の応答が正しくありません: {reply}"},
};

const char16_t* rowText(NetErrorKind kind)
{
    for (const Row& row : kTable) {
        if (row.kind == kind)
            return row.text;
    }
    return nullptr;
}

QString endpointText(const NetError& error)
{
    const bool v6 = error.host.contains(u':');
    return (v6 ? u'[' + error.host + u']' : error.host)
           + (error.port > 0 ? u':' + QString::number(error.port) : QString());
}

/// Octets as whole MiB, rounded up: a message just over the bound never reads as equal to it.
QString mib(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

QString value(QStringView name, const NetError& error)
{
    const bool pop3 = error.protocol == MailProtocol::Pop3;
    const QString host = error.host.isEmpty() ? QStringLiteral("?") : error.host;
    if (name == u"server")
        return pop3 ? QStringLiteral("POP3サーバー") : QStringLiteral("SMTPサーバー");
    if (name == u"starttls")
        return pop3 ? QStringLiteral("STLS") : QStringLiteral("STARTTLS");
    if (name == u"tlsForm")
        return (pop3 ? QStringLiteral("pop3s://") : QStringLiteral("smtps://")) + host;
    if (name == u"plainForm")
        return (pop3 ? QStringLiteral("pop3+plain://") : QStringLiteral("smtp+plain://")) + endpointText(error);
    if (name == u"names")
        return error.certificateNames.isEmpty() ? QStringLiteral("不明") : error.certificateNames.join(QStringLiteral("、"));
    if (name == u"expiry")
        return error.expiry.isEmpty() ? QStringLiteral("不明") : error.expiry;
    if (name == u"port")
        return QString::number(error.port);
    if (name == u"host")
        return host;
    if (name == u"item")
        return error.item;
    if (name == u"reply")
        return error.serverReply;
    if (name == u"detail")
        return error.detail;
    if (name == u"message")
        return QString::number(error.message);
    if (name == u"amount")
        return QString::number(error.amount);
    if (name == u"bound")
        return QString::number(error.bound);
    if (name == u"amountMiB")
        return mib(error.amount);
    if (name == u"boundMiB")
        return mib(error.bound);
    if (name == u"boundSeconds")
        return QString::number(error.bound / 1000.0);
    return u'{' + name.toString() + u'}';
}

// One pass over the table's text: what a user typed or a server said is never
// read as a placeholder.
QString fill(QStringView text, const NetError& error)
{
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = text.indexOf(u'{', from);
        const qsizetype close = open < 0 ? -1 : text.indexOf(u'}', open);
        if (close < 0)
            break;
        out += text.sliced(from, open - from);
        out += value(text.sliced(open + 1, close - open - 1), error);
        from = close + 1;
    }
    out += text.sliced(from);
    return out;
}

} // namespace

QString NetErrorHeadline(const NetError& error)
{
    // Other and None: the detail is all there is.
    const char16_t* text = rowText(error.kind);
    return text ? fill(QStringView(text), error) : QString();
}

QString NetErrorDetail(const NetError& error)
{
    return error.detail.isEmpty() && error.handshakeTimedOut ? QStringLiteral("タイムアウトしました") : error.detail;
}

bool IsProtocolFault(NetErrorKind kind)
{
    return kind >= NetErrorKind::TlsNotSupported && kind <= NetErrorKind::ProbeReplyMalformed;
}

QString NetErrorText(const NetError& error)
{
    const char16_t* row = rowText(error.kind);
    if (!row)
        return error.detail.isEmpty() ? error.serverReply : error.detail;
    const QStringView raw(row);
    QString text = fill(raw, error);
    const QString detail = NetErrorDetail(error);
    if (!error.serverReply.isEmpty() && !raw.contains(u"{reply}"))
        text += QStringLiteral("\nサーバーの応答: ") + error.serverReply;
    if (!detail.isEmpty() && !raw.contains(u"{detail}"))
        text += QStringLiteral("\n詳細: ") + detail;
    return text;
}

} // namespace corvidan::texts
