#include "history/AttachmentsDialog.h"

#include "common/AppDir.h"
#include "history/OriginalText.h"
#include "history/PrivateFolder.h"
#include "transport/Attachment.h"
#include "ui/Application.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSaveFile>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace corvidan::history {

namespace {

enum Column { NameColumn, SizeColumn, FolderColumn };

QPushButton* button(const QString& caption, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

} // namespace

AttachmentsDialog::AttachmentsDialog(ui::Application& app, QList<transport::mime::Attachment> attachments,
                                     PrivateFolder& scratch, QWidget* parent)
    : QDialog(parent), m_app(app), m_attachments(std::move(attachments)), m_scratch(scratch)
{
    setObjectName(QStringLiteral("AttachmentsDialog"));
    setWindowTitle(QStringLiteral("添付ファイル"));
    setAttribute(Qt::WA_DeleteOnClose);

    lstTenpu = new QTreeWidget(this);
    lstTenpu->setObjectName(QStringLiteral("lstTenpu"));
    lstTenpu->setHeaderLabels({QStringLiteral("ファイル名"), QStringLiteral("サイズ"), QStringLiteral("添付フォルダ")});
    lstTenpu->setRootIsDecorated(false);
    lstTenpu->setSelectionMode(QAbstractItemView::SingleSelection);
    lstTenpu->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    lstTenpu->header()->setStretchLastSection(false);

    cmdOpen = button(QStringLiteral("開く(&O)"), "cmdOpen", this);
    cmdSave = button(QStringLiteral("名前を付けて保存(&S)"), "cmdSave", this);
    cmdExtract = button(QStringLiteral("添付フォルダに書き出す(&E)"), "cmdExtract", this);
    cmdClose = button(QStringLiteral("閉じる"), "cmdClose", this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {cmdOpen, cmdSave, cmdExtract})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lstTenpu);
    layout->addLayout(buttons);

    connect(cmdOpen, &QPushButton::clicked, this, &AttachmentsDialog::cmdOpen_Click);
    connect(cmdSave, &QPushButton::clicked, this, &AttachmentsDialog::cmdSave_Click);
    connect(cmdExtract, &QPushButton::clicked, this, &AttachmentsDialog::cmdExtract_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    connect(lstTenpu, &QTreeWidget::itemSelectionChanged, this, &AttachmentsDialog::refreshButtons);
    connect(lstTenpu, &QTreeWidget::itemDoubleClicked, this, &AttachmentsDialog::cmdOpen_Click);

    refreshList();
    if (!m_attachments.isEmpty())
        lstTenpu->setCurrentItem(lstTenpu->topLevelItem(0));
    refreshButtons();
    resize(560, 300);
}

QString AttachmentsDialog::attachmentFolder() const
{
    return transport::attachment::folderPath(m_app.appDir().path(common::paths::AttachmentFolder));
}

void AttachmentsDialog::refreshList()
{
    const QString folder = attachmentFolder();
    const int current = selected();
    lstTenpu->clear();
    m_inFolder.clear();
    for (const transport::mime::Attachment& a : m_attachments) {
        const QString path = original::findInFolder(folder, a);
        m_inFolder.append(path);
        auto* item = new QTreeWidgetItem(lstTenpu);
        item->setText(NameColumn, original::folderFileName(a));
        item->setText(SizeColumn, original::sizeText(a.data.size()));
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(FolderColumn, path.isEmpty() ? QStringLiteral("なし") : QDir(folder).relativeFilePath(path));
    }
    if (current >= 0 && current < lstTenpu->topLevelItemCount())
        lstTenpu->setCurrentItem(lstTenpu->topLevelItem(current));
}

int AttachmentsDialog::selected() const
{
    QTreeWidgetItem* item = lstTenpu->currentItem();
    return item ? lstTenpu->indexOfTopLevelItem(item) : -1;
}

void AttachmentsDialog::refreshButtons()
{
    const int n = selected();
    cmdOpen->setEnabled(n >= 0);
    cmdSave->setEnabled(n >= 0);
    cmdExtract->setEnabled(n >= 0 && m_inFolder.value(n).isEmpty());
}

void AttachmentsDialog::cmdOpen_Click()
{
    const int n = selected();
    if (n < 0)
        return;
    // A file gone from 添付フォルダ is opened from a private copy, not silently put back.
    QString path = m_inFolder.value(n);
    if (path.isEmpty())
        path = m_scratch.write(original::folderFileName(m_attachments[n]), m_attachments[n].data);
    if (path.isEmpty() || !m_app.ui().openUrl(QUrl::fromLocalFile(path)))
        m_app.notify(this, QStringLiteral("添付ファイルを開けませんでした。"), ui::MsgIcon::Exclamation);
}

void AttachmentsDialog::cmdSave_Click()
{
    const int n = selected();
    if (n < 0)
        return;
    const std::optional<QString> target = m_app.ui().saveFileName(
        this, QStringLiteral("名前を付けて保存"), QStringLiteral("すべてのファイル (*)"));
    if (!target || target->isEmpty())
        return;
    QSaveFile file(*target);
    const QByteArray& data = m_attachments[n].data;
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        m_app.notify(this, QStringLiteral("ファイルを保存できませんでした。"), ui::MsgIcon::Exclamation);
}

void AttachmentsDialog::cmdExtract_Click()
{
    const int n = selected();
    if (n < 0 || !m_inFolder.value(n).isEmpty())
        return;
    const QString folder = attachmentFolder();
    QDir().mkpath(folder); // as the receive does
    transport::attachment::Folder target(folder);
    const transport::mime::Attachment& a = m_attachments[n];
    const QString written = target.write(a.name, a.type, a.data);
    if (written.isEmpty() || !target.sync().isOk())
        m_app.notify(this, QStringLiteral("添付フォルダに書き出せませんでした。"), ui::MsgIcon::Exclamation);
    refreshList();
    refreshButtons();
}

} // namespace corvidan::history
