// Deleting, copying, quick-saving and handing on the message in view.
#include "history/TyakuForm.h"

#include "common/FixedField.h"
#include "history/HistoryListModel.h"
#include "history/QuickSave.h"
#include "history/ViewerText.h"
#include "ui/Application.h"
#include "ui/Widgets.h"
#include "texts/ErrorText.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace corvidan::history {

namespace {

const QString ConfirmTitle = QStringLiteral("確認");

} // namespace

void TyakuForm::reportNotSelected()
{
    m_app.notify(this, QStringLiteral("データが選択されていません"));
}

void TyakuForm::reportStorageFailure(const common::Status& status)
{
    QString text = status.code() == common::ErrorCode::DiskFull
                       ? QStringLiteral("ディスクの空き容量が足りないため、履歴ファイルを更新できませんでした。")
                       : QStringLiteral("履歴ファイルを更新できませんでした。");
    text += QStringLiteral("メールは削除されていません。");
    if (const QString why = texts::StatusText(status); !why.isEmpty())
        text += u'\n' + why;
    m_app.notify(this, text, ui::MsgIcon::Exclamation);
}

bool TyakuForm::consumeSelection()
{
    if (Text5->text().isEmpty()) {
        reportNotSelected();
        return false;
    }
    rtfEd->setFocus();
    Text5->clear();
    return true;
}

void TyakuForm::Command3_Click()
{
    const QModelIndex row = selectedRow();
    if (Text5->text().isEmpty() || !row.isValid()) {
        reportNotSelected();
        return;
    }
    const int n = row.row() + 1;
    m_app.state().CurrentRecordNo = static_cast<std::int16_t>(n);
    const QString question = m_app.state().HistoryKind == 2
                                 ? QStringLiteral("選択された（行、青色）データを削除します。よろしいですか?")
                                 : QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");
    const ui::MsgAnswer answer = m_app.ui().messageBox(this, question, ConfirmTitle,
                                                       ui::MsgButtons::YesNo,
                                                       ui::MsgIcon::Question);
    rtfEd->setFocus();
    Text5->clear();
    if (answer != ui::MsgAnswer::Yes) {
        rtfEd->setPlainText(QString());
        return;
    }

    storage::HistoryFile file = historyFile();
    // Another writer may have changed the history since the list was read: only the
    // record the viewer showed for this row may go.
    const common::Status deleted = n == m_shownRecordNo ? file.DeleteRecord(n, m_shownRecord)
                                                        : file.DeleteRecord(n, m_model->header(n - 1));
    if (!deleted) {
        reportStorageFailure(deleted);
        return;
    }
    clearShownMessage();
    m_model->clear();
    fillList(HeaderText::AsStored);
}

void TyakuForm::Command6_Click()
{
    const ui::MsgAnswer answer =
        m_app.ui().messageBox(this, QStringLiteral("すべてのデータを削除して良いですか？"), ConfirmTitle,
                              ui::MsgButtons::YesNoDefaultNo, ui::MsgIcon::Question);
    if (answer != ui::MsgAnswer::Yes)
        return;

    storage::HistoryFile file = historyFile();
    const double length = static_cast<double>(QFileInfo(file.path()).size());
    // The last record number the deletion passed, torn tail included, as it always was.
    if (const int n = common::roundToInt16(length / storage::MailRecord::Size).value_or(file.RecordCount()); n > 0)
        m_app.state().CurrentRecordNo = static_cast<std::int16_t>(n);
    const common::Status deleted = file.DeleteAll();
    if (!deleted)
        reportStorageFailure(deleted);
    m_model->clear();
    fillList(deleted ? HeaderText::AsStored : HeaderText::Trimmed);
}

void TyakuForm::Command1_Click()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(Text6->text());
}

void TyakuForm::Command2_Click()
{
    if (!consumeSelection())
        return;
    const QString message = MessageAsText(Text7->text(), Text8->text(), Text9->text(), bodyText());
    // Refused before the overwrite question: the file is code page 932 text.
    if (const QString refusal = ui::unsavableCharactersMessage(message); !refusal.isEmpty()) {
        m_app.notify(this, refusal, ui::MsgIcon::Exclamation);
        return;
    }
    const QString path = quickSavePath(m_app.appDir(), Text7->text());
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool exists = QFileInfo::exists(path);
    QGuiApplication::restoreOverrideCursor();
    if (exists) {
        const ui::MsgAnswer answer = m_app.ui().messageBox(
            this, QStringLiteral("同名のファイルが既に存在します。上書きしますか？ "), ConfirmTitle,
            ui::MsgButtons::YesNo, ui::MsgIcon::Question);
        if (answer != ui::MsgAnswer::Yes)
            return;
    }
    if (const common::Status written = writeQuickSave(path, message); !written) {
        m_app.notify(this, QStringLiteral("ファイルを作成できませんでした。\n") + path,
                     ui::MsgIcon::Exclamation);
        return;
    }
    setBodyText(message);
}

void TyakuForm::Command4_Click()
{
    if (!consumeSelection())
        return;
    handOffToAddressBook();
}

void TyakuForm::Command5_Click()
{
    if (!consumeSelection())
        return;
    handOffToReply();
}

void TyakuForm::handOffToAddressBook()
{
    m_app.navigator().showAddressBookFor(Text8->text());
}

void TyakuForm::handOffToReply()
{
    m_app.navigator().showReply(trimBlanks(Text7->text()), trimBlanks(Text8->text()),
                                trimBlanks(rtfEd->toPlainText()));
}

} // namespace corvidan::history
