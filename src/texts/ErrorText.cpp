#include "texts/ErrorText.h"

#include "common/FixedField.h"
#include "texts/NetErrorText.h"

namespace corvidan::texts {

using common::ErrorCode;
using common::Reason;
using transport::ReceiveProblem;

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString reasonText(const common::Status& status)
{
    const QString& path = status.detail();
    switch (status.reason()) {
    case Reason::None:
        break;
    case Reason::SymbolicLink:
        return path + QStringLiteral(": シンボリックリンクのため書き込みません"
                                     "（リンク先のファイルは変更していません）。");
    case Reason::WriterBusy:
        return path + QStringLiteral(": 別の処理（受信や削除）がこのファイルを更新中のため、"
                                     "%1秒待っても書き込めませんでした。しばらくしてからやり直して下さい。")
                          .arg(status.number() / 1000.0);
    case Reason::ShownMailChanged:
        return path + QStringLiteral(": 第%1件のメールが一覧に表示されたものと違うため、削除しませんでした"
                                     "（別の処理が履歴を更新しました）。履歴を開き直して下さい。")
                          .arg(status.number());
    case Reason::ShownAddressChanged:
        return path + QStringLiteral(": 第%1件が表示されたものと違うため、削除しませんでした"
                                     "（別の処理がアドレス帳を更新しました）。")
                          .arg(status.number());
    }
    return path;
}

/// The connection broke without a word from the server: say which server.
QString connectText(const transport::ReceiveNotice& notice)
{
    const QString why = common::CutAtNul(NetErrorText(notice.net));
    return why.isEmpty() ? QStringLiteral("POP3サーバーに接続できません: ") + notice.detail : why;
}

QString leftText(const transport::LeftMessage& left)
{
    return left.tooBig ? QStringLiteral("%1 件目（%2 バイト）: 大きすぎます。").arg(left.n).arg(left.listedSize)
                       : QStringLiteral("%1 件目: サーバーが送信を拒否しました（%2）。")
                             .arg(left.n)
                             .arg(common::CutAtNul(NetErrorText(left.refusal)));
}

} // namespace

QString StatusText(const common::Status& status)
{
    QString text = reasonText(status);
    if (const common::Status* next = status.next())
        text += QStringLiteral("\n") + StatusText(*next);
    return text;
}

QString StoreFailureText(const common::Status& status)
{
    QString reason;
    switch (status.code()) {
    case ErrorCode::DiskFull:
        reason = QStringLiteral("ディスクの空き容量が足りません。");
        break;
    case ErrorCode::TooManyRecords:
        reason = QStringLiteral("着信履歴が上限の32767件に達しています。不要なメールを削除してから受信して下さい。");
        break;
    case ErrorCode::NotFound:
        reason = QStringLiteral("データフォルダ「★MAilData」が見つかりません。");
        break;
    default:
        reason = QStringLiteral("着信履歴のファイルに書き込めません。");
        break;
    }
    QString text = QStringLiteral("受信したメールを着信履歴に保存できませんでした。\r\n") + reason +
                   QStringLiteral("\r\nこのメールと以降のメールはサーバーに残してあります。");
    const QString detail = StatusText(status);
    if (!detail.isEmpty())
        text += QStringLiteral("\r\n（") + detail + QStringLiteral("）");
    return text;
}

QString ReceiveNoticeText(const transport::ReceiveNotice& notice)
{
    switch (notice.problem) {
    case ReceiveProblem::None:
        return {};
    case ReceiveProblem::NoServer:
        return QStringLiteral("POP3サーバーが設定されていません。");
    case ReceiveProblem::NoAccount:
        return QStringLiteral("ID・パスワードが設定されていません。");
    case ReceiveProblem::DataFolderMissing:
        return QStringLiteral("データフォルダ「★MAilData」が見つかりません。受信したメールを保存できないため、受信しませんで"
                              "した（メールはサーバーに残っています）。");
    case ReceiveProblem::ConnectFailed:
        return connectText(notice);
    case ReceiveProblem::LoginFailed:
    case ReceiveProblem::FetchFailed:
        return common::CutAtNul(NetErrorText(notice.net));
    case ReceiveProblem::AttachmentNotWritten:
        return QStringLiteral("添付ファイルをオープンできません") + CrLf + QStringLiteral("添付ファイルを作成できません: ") +
               notice.detail + CrLf +
               QStringLiteral("このメールと以降のメールはサーバーに残してあります。");
    case ReceiveProblem::RecordNotStored:
        return StoreFailureText(notice.status);
    case ReceiveProblem::PartsMissing:
        return QStringLiteral("分割されたメールが全て揃っていません");
    case ReceiveProblem::LeftOnServer: {
        QString text = QStringLiteral("次のメールは受信せず、サーバーに残しました。");
        for (const transport::LeftMessage& left : notice.left)
            text += CrLf + leftText(left);
        return text;
    }
    case ReceiveProblem::DeletionUnconfirmed:
        return common::CutAtNul(NetErrorText(notice.net)) + CrLf +
               QStringLiteral("受信したメールは着信履歴に保存しました。サーバーから削除できなかったメールは、"
                              "次回の受信で二重に保存せずに削除します。");
    }
    return {};
}

QString ReceiveNoticeTitle(const transport::ReceiveNotice& notice)
{
    switch (notice.problem) {
    case ReceiveProblem::DataFolderMissing:
    case ReceiveProblem::ConnectFailed:
    case ReceiveProblem::LoginFailed:
    case ReceiveProblem::FetchFailed:
    case ReceiveProblem::LeftOnServer:
    case ReceiveProblem::DeletionUnconfirmed:
        return QStringLiteral("エラー");
    case ReceiveProblem::None:
    case ReceiveProblem::NoServer:
    case ReceiveProblem::NoAccount:
    case ReceiveProblem::AttachmentNotWritten:
    case ReceiveProblem::RecordNotStored:
    case ReceiveProblem::PartsMissing:
        break;
    }
    return {};
}

} // namespace corvidan::texts
