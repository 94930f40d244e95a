#pragma once

#include "transport/Mime.h"

#include <QDialog>
#include <QList>

class QPushButton;
class QTreeWidget;

namespace corvidan::ui {
class Application;
}

namespace corvidan::history {

class PrivateFolder;

/// The attachments of a kept original, by name and size: each can be opened
/// with the desktop's program, saved elsewhere, or written again into
/// 添付フォルダ when the file there is gone.
class AttachmentsDialog final : public QDialog {
    Q_OBJECT
public:
    AttachmentsDialog(ui::Application& app, QList<transport::mime::Attachment> attachments, PrivateFolder& scratch,
                      QWidget* parent = nullptr);

    void cmdOpen_Click();
    void cmdSave_Click();
    void cmdExtract_Click();

private:
    QString attachmentFolder() const;
    void refreshList();
    void refreshButtons();
    /// The selected attachment's index, or -1.
    int selected() const;

    ui::Application& m_app;
    QList<transport::mime::Attachment> m_attachments;
    PrivateFolder& m_scratch;
    QStringList m_inFolder; // the file in 添付フォルダ of each attachment, "" when gone

    QTreeWidget* lstTenpu = nullptr;
    QPushButton* cmdOpen = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdExtract = nullptr;
    QPushButton* cmdClose = nullptr;
};

} // namespace corvidan::history
