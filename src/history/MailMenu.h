#pragma once

#include "transport/Mime.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace corvidan::ui {
class Application;
}

namespace corvidan::history {

class AttachmentsDialog;
class OriginalView;
class PrivateFolder;

/// The viewer's メール(&M) menu: the shown message's kept original read whole,
/// its HTML in the browser, its attachments, and the originals' disk use.
/// The original is read only when the menu opens or an item is used; the
/// history in view (HistoryKind) says whose originals.
class MailMenu final : public QObject {
    Q_OBJECT
public:
    MailMenu(ui::Application& app, QMenuBar* bar, QWidget* window);
    ~MailMenu() override;

    /// The message now shown, as its record's bytes; empty when none is.
    void setShownRecord(const QByteArray& recordBytes, const QString& subject);
    /// Whether the shown record has an original (reads it once per record).
    bool hasOriginal();
    /// Reads the original and enables what it allows; runs as the menu opens.
    void refresh();

    void mgenbun_Click();
    void mhtml_Click();
    void mhtmlgazou_Click();
    void mtenpu_Click();

private:
    const std::optional<QByteArray>& original();
    const transport::mime::Parsed* parsed();
    void showHtml(bool withRemoteImages);
    void reportNoOriginal();

    ui::Application& m_app;
    QWidget* m_window;
    QByteArray m_record;
    QString m_subject;
    bool m_loaded = false;
    std::optional<QByteArray> m_original;
    std::optional<transport::mime::Parsed> m_parsed;
    std::unique_ptr<PrivateFolder> m_scratch;
    QPointer<OriginalView> m_view;
    QPointer<AttachmentsDialog> m_attachments;

    QMenu* mmail = nullptr;
    QAction* mgenbun = nullptr;
    QAction* mhtml = nullptr;
    QAction* mhtmlgazou = nullptr;
    QAction* mtenpu = nullptr;
    QAction* myouryou = nullptr;
};

} // namespace corvidan::history
