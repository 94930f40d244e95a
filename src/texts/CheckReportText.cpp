#include "texts/CheckReportText.h"

#include "texts/NetErrorText.h"

namespace corvidan::texts {

using transport::LoginOutcome;
using transport::ProbeKind;
using transport::ProbeResult;

namespace {

QString probeName(const ProbeResult& r)
{
    switch (r.kind) {
    case ProbeKind::Pop3s: return QStringLiteral("POP3S ポート%1").arg(r.port);
    case ProbeKind::Pop3Stls: return QStringLiteral("POP3 ポート%1 (STLSで暗号化)").arg(r.port);
    case ProbeKind::Pop3Plain: return QStringLiteral("POP3 ポート%1 (暗号化なし)").arg(r.port);
    case ProbeKind::Smtps: return QStringLiteral("SMTPS ポート%1").arg(r.port);
    case ProbeKind::Submission: return QStringLiteral("SMTP ポート%1 (STARTTLSで暗号化)").arg(r.port);
    case ProbeKind::Smtp: return QStringLiteral("SMTP ポート%1").arg(r.port);
    }
    return {};
}

QString probeLine(const ProbeResult& r, bool apop)
{
    const bool good = r.usable(apop) && r.login != LoginOutcome::Refused;
    const bool fault = IsProtocolFault(r.error.kind);
    const QString headline = fault ? QString() : NetErrorHeadline(r.error);
    const QString detail = fault ? NetErrorText(r.error) : NetErrorDetail(r.error);
    QString text = (good ? QStringLiteral("○ ") : r.reached ? QStringLiteral("△ ") : QStringLiteral("× ")) + probeName(r)
                   + QStringLiteral(": ");
    if (!r.reached || (r.error.isError() && r.login != LoginOutcome::Refused))
        return text + QString(headline).replace(u'\n', u' ')
               + (detail.isEmpty() ? QString() : QStringLiteral("（") + detail + QStringLiteral("）"));
    text += r.tls ? QStringLiteral("暗号化(TLS)で接続できます。") : QStringLiteral("暗号化なしで応答します。");
    if (!r.tls && (r.kind == ProbeKind::Pop3Plain || r.kind == ProbeKind::Smtp))
        text += r.tlsOffered ? QStringLiteral("暗号化の申し出: あり。") : QStringLiteral("暗号化の申し出: なし。");
    if (!r.certificateNames.isEmpty())
        text += QStringLiteral("証明書: %1（%2まで）。").arg(r.certificateNames.join(QStringLiteral("、")), r.certificateExpiry);
    if (!r.loginMethods.isEmpty())
        text += QStringLiteral("ログイン方法: ") + r.loginMethods.join(QStringLiteral(", ")) + QStringLiteral("。");
    if (r.login == LoginOutcome::Accepted)
        text += QStringLiteral("ログインできました。");
    else if (r.login == LoginOutcome::Refused)
        text += QStringLiteral("ログインできません: ") + headline;
    return text;
}

} // namespace

QString CheckReportText(const transport::CheckReport& report)
{
    QStringList lines;
    QString section;
    for (const ProbeResult& r : report.probes) {
        const bool pop3 = r.kind == ProbeKind::Pop3s || r.kind == ProbeKind::Pop3Stls || r.kind == ProbeKind::Pop3Plain;
        const QString heading = (pop3 ? QStringLiteral("受信 (POP3): ") : QStringLiteral("送信 (SMTP): ")) + r.host;
        if (heading != section) {
            lines << heading;
            section = heading;
        }
        lines << QStringLiteral("  ") + probeLine(r, report.apop);
    }
    lines << QString() << QStringLiteral("設定に使う行:");
    lines << QStringLiteral("  POP3サーバー名: ")
                 + (report.pop3Line.isEmpty() ? QStringLiteral("（パスワードを暗号化して送れる方法が見つかりません）") : report.pop3Line);
    lines << QStringLiteral("  SMTPサーバー名: ")
                 + (report.smtpLine.isEmpty() ? QStringLiteral("（使える送信方法が見つかりません）") : report.smtpLine);
    return lines.join(u'\n');
}

} // namespace corvidan::texts
