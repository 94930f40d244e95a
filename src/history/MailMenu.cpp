#include "history/MailMenu.h"

#include "history/AttachmentsDialog.h"
#include "history/OriginalText.h"
#include "history/OriginalView.h"
#include "history/PrivateFolder.h"
#include "storage/Originals.h"
#include "ui/Application.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

namespace corvidan::history {

namespace {

storage::Originals originalsInView(ui::Application& app)
{
    return storage::Originals(app.appDir(), app.state().HistoryKind == 2 ? storage::HistoryKind::Sent
                                                                         : storage::HistoryKind::Received);
}

} // namespace

MailMenu::MailMenu(ui::Application& app, QMenuBar* bar, QWidget* window)
    : QObject(window), m_app(app), m_window(window), m_scratch(std::make_unique<PrivateFolder>())
{
    mmail = bar->addMenu(QStringLiteral("メール(&M)"));
    mmail->setObjectName(QStringLiteral("mmail"));
    auto item = [this](const char* name, const QString& caption, void (MailMenu::*handler)()) {
        QAction* action = mmail->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    mgenbun = item("mgenbun", QStringLiteral("原文を開く"), &MailMenu::mgenbun_Click);
    mhtml = item("mhtml", QStringLiteral("HTMLで表示"), &MailMenu::mhtml_Click);
    mhtmlgazou = item("mhtmlgazou", QStringLiteral("HTMLで表示（外部の画像も読み込む）"), &MailMenu::mhtmlgazou_Click);
    mtenpu = item("mtenpu", QStringLiteral("添付ファイル"), &MailMenu::mtenpu_Click);
    mmail->addSeparator()->setObjectName(QStringLiteral("mline4"));
    myouryou = mmail->addAction(QString());
    myouryou->setObjectName(QStringLiteral("myouryou"));
    myouryou->setEnabled(false);
    connect(mmail, &QMenu::aboutToShow, this, &MailMenu::refresh);
    refresh();
}

MailMenu::~MailMenu() = default;

void MailMenu::setShownRecord(const QByteArray& recordBytes, const QString& subject)
{
    m_record = recordBytes;
    m_subject = subject;
    m_loaded = false;
    m_original.reset();
    m_parsed.reset();
}

const std::optional<QByteArray>& MailMenu::original()
{
    if (!m_loaded) {
        m_loaded = true;
        if (!m_record.isEmpty())
            m_original = originalsInView(m_app).Load(m_record);
    }
    return m_original;
}

bool MailMenu::hasOriginal()
{
    return original().has_value();
}

const transport::mime::Parsed* MailMenu::parsed()
{
    if (!m_parsed && original())
        m_parsed = transport::mime::parse(*original());
    return m_parsed ? &*m_parsed : nullptr;
}

void MailMenu::refresh()
{
    const transport::mime::Parsed* message = parsed();
    mgenbun->setEnabled(message != nullptr);
    const bool html = message && !message->html.isEmpty();
    mhtml->setEnabled(html);
    mhtmlgazou->setEnabled(html);
    mtenpu->setEnabled(message && !message->attachments.isEmpty());
    const qint64 total = storage::Originals(m_app.appDir(), storage::HistoryKind::Received).TotalBytes() +
                         storage::Originals(m_app.appDir(), storage::HistoryKind::Sent).TotalBytes();
    myouryou->setText(QStringLiteral("原文の容量: ") + original::sizeText(total));
}

void MailMenu::reportNoOriginal()
{
    m_app.notify(m_window, QStringLiteral("このメールの原文は保存されていません。"));
}

void MailMenu::mgenbun_Click()
{
    if (!original()) {
        reportNoOriginal();
        return;
    }
    if (!m_view)
        m_view = new OriginalView(m_window);
    m_view->setMessage(*original(), m_subject);
    m_view->show();
    m_view->raise();
    m_view->activateWindow();
}

void MailMenu::mhtml_Click()
{
    showHtml(false);
}

void MailMenu::mhtmlgazou_Click()
{
    showHtml(true);
}

void MailMenu::showHtml(bool withRemoteImages)
{
    const transport::mime::Parsed* message = parsed();
    if (!message) {
        reportNoOriginal();
        return;
    }
    if (message->html.isEmpty())
        return;
    const QString html = withRemoteImages ? message->html : original::withoutRemoteReferences(message->html);
    // A byte-order mark outranks any charset the page declares, so the UTF-8 copy reads right.
    const QString path = m_scratch->write(QStringLiteral("message.html"), "\xEF\xBB\xBF" + html.toUtf8());
    if (path.isEmpty() || !m_app.ui().openUrl(QUrl::fromLocalFile(path)))
        m_app.notify(m_window, QStringLiteral("ブラウザで表示できませんでした。"), ui::MsgIcon::Exclamation);
}

void MailMenu::mtenpu_Click()
{
    const transport::mime::Parsed* message = parsed();
    if (!message) {
        reportNoOriginal();
        return;
    }
    if (m_attachments)
        m_attachments->close();
    m_attachments = new AttachmentsDialog(m_app, message->attachments, *m_scratch, m_window);
    m_attachments->show();
}

} // namespace corvidan::history
