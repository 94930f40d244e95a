// The windows the screenshot tool can render. To add a window, write a small
// function that opens it in a telling state and add a row to the table at the end.

#include "shell/tools/Scenes.h"

#include "addressbook/FriendForm.h"
#include "common/AppDir.h"
#include "compose/BackForm.h"
#include "compose/WriteForm.h"
#include "emoticons/KaoForm.h"
#include "history/OriginalView.h"
#include "history/TyakuForm.h"
#include "settings/CheckForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "shell/MainForm.h"
#include "storage/AddressBookFile.h"
#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "storage/ServerSettings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QTabWidget>
#include <QTextCursor>
#include <QTreeView>

namespace corvidan::screenshots {

void SceneContext::write(QStringView windowsRelative, const QByteArray& bytes) const
{
    const QString path = app.appDir().path(windowsRelative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

namespace {

template <class T>
T* child(QWidget* form, const char* name)
{
    return form->findChild<T*>(QString::fromLatin1(name));
}

void hover(QWidget* control)
{
    const QPointF at(4, 4);
    QMouseEvent move(QEvent::MouseMove, at, control->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(control, &move);
}

QWidget* mainFormAtStart(SceneContext& ctx)
{
    return ctx.app.forms().get<shell::MainForm>();
}

QWidget* mainFormAfterReceive(SceneContext& ctx)
{
    auto* form = ctx.app.forms().get<shell::MainForm>();
    hover(child<QLabel>(form, "Label10"));
    form->setResultLine(QStringLiteral("3の新着メール有り。"));
    form->showNewMailPicture();
    return form;
}

QWidget* mainFormReceiving(SceneContext& ctx)
{
    auto* form = ctx.app.forms().get<shell::MainForm>();
    form->setStatusLine(QStringLiteral("メールのチェックをしています。（2 / 5）"));
    form->setReceiving(true);
    return form;
}

QWidget* checkForm(SceneContext& ctx)
{
    // Nothing listens on this machine's mail ports: the report says so for each way in.
    ctx.write(u"\\zorbet.ini", "SMTP=127.0.0.1\r\nPOP3=127.0.0.1\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n");
    storage::ReadServerSettings(ctx.app.appDir().path(common::paths::ServerSettings), ctx.app.state().server);
    return ctx.app.forms().get<settings::CheckForm>();
}

QWidget* setForm(SceneContext& ctx)
{
    return ctx.app.forms().get<settings::SetForm>();
}

QWidget* optionForm(SceneContext& ctx)
{
    // As start-up leaves them: the dialog shows the values read from the file.
    storage::ReadServerSettings(ctx.app.appDir().path(common::paths::ServerSettings),
                                ctx.app.state().server);
    return ctx.app.forms().get<settings::OptionForm>();
}

QWidget* idPassForm(SceneContext& ctx)
{
    auto* form = ctx.app.forms().get<settings::IdPassForm>();
    form->idText()->setText(QStringLiteral("taro.yamada"));
    form->passText()->setText(QStringLiteral("secret-pass"));
    child<QCheckBox>(form, "Check1")->setChecked(true);
    return form;
}

QWidget* backForm(SceneContext& ctx)
{
    auto* form = ctx.app.forms().get<compose::BackForm>();
    form->FillReply(QStringLiteral("来週の打ち合わせについて"), QStringLiteral("hanako@example.jp"),
                    QStringLiteral("山田様\r\n\r\nお世話になっております。\r\n来週の打ち合わせは水曜日の午後でいかがでしょうか。\r\n\r\n佐藤花子"));
    return form;
}

QWidget* kaoForm(SceneContext& ctx)
{
    auto* form = ctx.app.forms().get<emoticons::KaoForm>();
    QPlainTextEdit* box = form->pageBox(0);
    QTextCursor selection = box->textCursor();
    const int at = box->toPlainText().indexOf(QStringLiteral("(*^_^*)"));
    selection.setPosition(at);
    selection.setPosition(at + 7, QTextCursor::KeepAnchor);
    box->setTextCursor(selection);
    box->setFocus();
    return form;
}

QWidget* kaoFormFaces(SceneContext& ctx)
{
    auto* form = ctx.app.forms().get<emoticons::KaoForm>();
    child<QTabWidget>(form, "SSTab1")->setCurrentIndex(2);
    return form;
}

void fillAddressBook(SceneContext& ctx)
{
    auto book = storage::AddressBookFile::addressBook(ctx.app.appDir());
    const std::pair<const char*, const char*> entries[] = {
        {"山田太郎", "taro.yamada@example.jp"},
        {"佐藤花子", "佐藤花子<hanako@example.jp>"},
        {"営業部", "sales@example.co.jp"},
    };
    for (const auto& [name, address] : entries) {
        storage::AddressRecord record;
        record.Name = QString::fromUtf8(name);
        record.Address = QString::fromUtf8(address);
        book.AppendRecord(record);
    }
}

QWidget* writeForm(SceneContext& ctx)
{
    auto* form = ctx.app.forms().get<compose::WriteForm>();
    child<QLineEdit>(form, "ToText")->setText(QStringLiteral("hanako@example.jp"));
    child<QLineEdit>(form, "SubjectText")->setText(QStringLiteral("来週の打ち合わせについて"));
    child<QPlainTextEdit>(form, "BodyText")
        ->setPlainText(QStringLiteral("佐藤様\n\nいつもお世話になっております。\n資料を添付いたします。\n\n山田太郎"));
    child<QLineEdit>(form, "AttachText")->setText(QStringLiteral("/home/taro/資料.pdf"));
    return form;
}

QWidget* writeFormAttachments(SceneContext& ctx)
{
    auto* form = writeForm(ctx);
    const QStringList files = {QStringLiteral("/home/taro/資料.pdf"), QStringLiteral("/home/taro/見積書.xlsx"),
                               QStringLiteral("/home/taro/地図.png")};
    child<QListWidget>(form, "List2")->addItems(files);
    // 追加 with an empty attachment box only shows the list, no file dialog.
    child<QLineEdit>(form, "AttachText")->clear();
    child<QPushButton>(form, "Command9")->setEnabled(true);
    child<QPushButton>(form, "Command9")->click();
    child<QLineEdit>(form, "AttachText")->setText(files.join(u','));
    child<QCheckBox>(form, "Check1")->setChecked(true);
    return form;
}

QWidget* writeFormWide(SceneContext& ctx)
{
    fillAddressBook(ctx);
    auto* form = ctx.app.forms().get<compose::WriteForm>();
    child<QPushButton>(form, "Command4")->click();
    child<QRadioButton>(form, "Option2")->click();
    child<QLineEdit>(form, "SubjectText")->setText(QStringLiteral("忘年会のお知らせ"));
    child<QPlainTextEdit>(form, "BodyText")->setPlainText(QStringLiteral("皆様\n\n今年も忘年会を開きます。"));
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(child<QPushButton>(form, "Command8"), &enter);
    return form;
}

QWidget* friendForm(SceneContext& ctx)
{
    fillAddressBook(ctx);
    auto* form = ctx.app.forms().get<addressbook::FriendForm>();
    auto* list = child<QTreeWidget>(form, "MailListView");
    list->setCurrentItem(list->topLevelItem(1));
    form->MailListView_MouseDown();
    child<QLineEdit>(form, "Text50")->setText(QStringLiteral("佐藤花子"));
    return form;
}

QWidget* tyakuForm(SceneContext& ctx)
{
    storage::HistoryFile received(ctx.app.appDir(), storage::HistoryKind::Received);
    const char* const messages[][4] = {
        {"来週の打ち合わせについて", "佐藤花子 <hanako@example.jp>", "Mon, 7 Dec 2026 09:12:40 +0900",
         "山田様\r\n\r\nいつもお世話になっております。\r\n来週の打ち合わせは火曜日の午後でいかがでしょうか。\r\n"
         "候補：①14時 ②15時 ③16時\r\n\r\n佐藤"},
        {"【ご案内】年末年始の営業について", "㈱サンプル商事 <info@example.co.jp>",
         "Mon, 7 Dec 2026 14:03:11 +0900", "年末年始は12月29日～1月3日まで休業いたします。"},
        {"Re: 資料送付のお願い", "taro.suzuki@example.jp", "Tue, 8 Dec 2026 08:45:02 +0900",
         "資料を添付いたしました。ご確認ください。"},
    };
    for (const auto& m : messages) {
        storage::MailRecord record;
        record.Subject = QString::fromUtf8(m[0]);
        record.Address = QString::fromUtf8(m[1]);
        record.Date = QString::fromUtf8(m[2]);
        record.Body = QString::fromUtf8(m[3]);
        received.AppendRecord(record);
    }
    auto* form = ctx.app.forms().get<history::TyakuForm>();
    form->OpenHistory(1);
    auto* list = child<QTreeView>(form, "MailListView");
    list->selectionModel()->select(list->model()->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    form->MailListView_Click();
    hover(child<QLineEdit>(form, "Text8"));
    return form;
}

/// A newsletter longer than a record holds, kept whole as its original, shown in the viewer.
history::TyakuForm* viewerOnLongMail(SceneContext& ctx)
{
    QString body = QStringLiteral("会員の皆様\r\n\r\n今月のお知らせをお送りします。\r\n\r\n");
    for (int n = 1; n <= 600; ++n)
        body += QStringLiteral("%1. 新しい講座のご案内、会場と日程の変更、申し込みの締め切りについて。\r\n").arg(n);
    body += QStringLiteral("\r\n以上、最後までお読みいただきありがとうございました。\r\n");
    storage::MailRecord record;
    record.Subject = QStringLiteral("【会報】12月号のお知らせ");
    record.Address = QStringLiteral("会報係 <news@example.jp>");
    record.Date = QStringLiteral("Wed, 9 Dec 2026 07:30:00 +0900");
    record.Body = body;
    const QByteArray original =
        "From: =?UTF-8?B?" + QStringLiteral("会報係").toUtf8().toBase64() + "?= <news@example.jp>\r\n"
        "To: taro@example.jp\r\nSubject: =?UTF-8?B?" + record.Subject.toUtf8().toBase64() + "?=\r\n"
        "Date: " + record.Date.toLatin1() + "\r\nMIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body.toUtf8();
    const storage::Originals originals(ctx.app.appDir(), storage::HistoryKind::Received);
    if (!originals.Store(record.toBytes(), original).isOk())
        return nullptr;
    storage::HistoryFile(ctx.app.appDir(), storage::HistoryKind::Received).AppendRecord(record);
    auto* form = ctx.app.forms().get<history::TyakuForm>();
    form->OpenHistory(1);
    return form;
}

QWidget* tyakuFormCutBody(SceneContext& ctx)
{
    return viewerOnLongMail(ctx);
}

QWidget* tyakuFormOriginal(SceneContext& ctx)
{
    history::TyakuForm* form = viewerOnLongMail(ctx);
    if (!form)
        return nullptr;
    emit child<QMenu>(form, "mmail")->aboutToShow();
    child<QAction>(form, "mgenbun")->trigger();
    return form->findChild<history::OriginalView*>();
}

QWidget* tyakuFormMailMenu(SceneContext& ctx)
{
    history::TyakuForm* form = viewerOnLongMail(ctx);
    if (!form)
        return nullptr;
    auto* menu = child<QMenu>(form, "mmail");
    menu->popup(form->menuBar()->mapToGlobal(form->menuBar()->actionGeometry(menu->menuAction()).bottomLeft()));
    return menu;
}

} // namespace

const std::vector<Scene>& scenes()
{
    static const std::vector<Scene> all = {
        {"MainForm", "the launcher as it starts", mainFormAtStart},
        {"MainForm-newmail", "the launcher after a receive, hovering over アドレス帳",
         mainFormAfterReceive},
        {"MainForm-receiving", "the launcher during a receive, its 中止 control shown", mainFormReceiving},
        {"SetForm", "the settings hub", setForm},
        {"CheckForm", "the connection check's report where no mail server answers", checkForm},
        {"OptionForm", "the server dialog with example values", optionForm},
        {"IdPassForm", "the account dialog, password masked", idPassForm},
        {"BackForm", "the reply window filled from a message", backForm},
        {"KaoForm", "the emoticon palette, a face mark selected", kaoForm},
        {"KaoForm-faces", "the emoticon palette's page of faces", kaoFormFaces},
        {"WriteForm", "the compose window with a message written", writeForm},
        {"WriteForm-attachments", "the compose window with three attachments listed, fortune ticked",
         writeFormAttachments},
        {"WriteForm-wide", "the compose window with the address panel in bulk mode, a hint shown",
         writeFormWide},
        {"FriendForm", "the address book with three entries, the second picked", friendForm},
        {"TyakuForm", "the history viewer on three received messages, the first one shown", tyakuForm},
        {"TyakuForm-cutbody", "the history viewer on a message longer than its record, the note shown",
         tyakuFormCutBody},
        {"TyakuForm-original", "the whole original of that message, decoded", tyakuFormOriginal},
        {"TyakuForm-mailmenu", "the viewer's メール menu for a message with its original", tyakuFormMailMenu},
    };
    return all;
}

} // namespace corvidan::screenshots
