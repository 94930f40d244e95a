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
};

QString endpointText(const NetError& error)
{
    const bool v6 = error.host.contains(u':');
    return (v6 ? u'[' + error.host + u']' : error.host)
           + (error.port > 0 ? u':' + QString::number(error.port) : QString());
}

QString fill(QString text, const NetError& error)
{
    const bool pop3 = error.protocol == MailProtocol::Pop3;
    const QString host = error.host.isEmpty() ? QStringLiteral("?") : error.host;
    text.replace(QStringLiteral("{server}"), pop3 ? QStringLiteral("POP3サーバー") : QStringLiteral("SMTPサーバー"));
    text.replace(QStringLiteral("{starttls}"), pop3 ? QStringLiteral("STLS") : QStringLiteral("STARTTLS"));
    text.replace(QStringLiteral("{tlsForm}"), (pop3 ? QStringLiteral("pop3s://") : QStringLiteral("smtps://")) + host);
    text.replace(QStringLiteral("{plainForm}"),
                 (pop3 ? QStringLiteral("pop3+plain://") : QStringLiteral("smtp+plain://")) + endpointText(error));
    text.replace(QStringLiteral("{names}"), error.certificateNames.isEmpty()
                                                ? QStringLiteral("不明")
                                                : error.certificateNames.join(QStringLiteral("、")));
    text.replace(QStringLiteral("{expiry}"), error.expiry.isEmpty() ? QStringLiteral("不明") : error.expiry);
    text.replace(QStringLiteral("{port}"), QString::number(error.port));
    text.replace(QStringLiteral("{host}"), host);
    // Last: what the user typed is never read as a placeholder.
    text.replace(QStringLiteral("{item}"), error.item);
    return text;
}

} // namespace

QString NetErrorHeadline(const NetError& error)
{
    for (const Row& row : kTable) {
        if (row.kind == error.kind)
            return fill(QString::fromUtf16(row.text), error);
    }
    // Other and None: the detail is all there is.
    return {};
}

QString NetErrorText(const NetError& error)
{
    QString text = NetErrorHeadline(error);
    if (text.isEmpty())
        return error.detail.isEmpty() ? error.serverReply : error.detail;
    if (!error.serverReply.isEmpty())
        text += QStringLiteral("\nサーバーの応答: ") + error.serverReply;
    if (!error.detail.isEmpty())
        text += QStringLiteral("\n詳細: ") + error.detail;
    return text;
}

} // namespace corvidan::texts
