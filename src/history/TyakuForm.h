#pragma once

#include "storage/HistoryFile.h"
#include "storage/MailRecord.h"

#include <QMainWindow>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTextEdit;
class QToolBar;
class QTreeView;

namespace corvidan::common {
class Status;
}
namespace corvidan::ui {
class Application;
}

namespace corvidan::history {

class HistoryListModel;
class MailMenu;
class TruncationNote;

/// The history viewer: lists the received or the sent history, shows one
/// message in its header boxes and body pane, deletes, saves, copies and hands
/// messages on; its body pane doubles as a small text editor.
///
/// The body pane holds lines separated by "\n"; records and files hold CR LF.
/// bodyText()/setBodyText() convert, so other windows exchange CR LF text.
class TyakuForm final : public QMainWindow {
    Q_OBJECT
public:
    explicit TyakuForm(ui::Application& app, QWidget* parent = nullptr);
    ~TyakuForm() override;

    void Form_Load();
    void Form_Resize();

    /// Shows the window on history `kind` (1 received, 2 sent) and refills it.
    void OpenHistory(int kind);
    /// Fills the list from the history file; the boxes end showing the last record.
    void LoadHistoryList(int kind);
    /// History `kind` gained records behind the window's back: an open view of it
    /// is refilled so its list, count and message agree with the file.
    void historyAppended(int kind);

    /// The body pane's text with CR LF line ends.
    QString bodyText() const;
    void setBodyText(const QString& fileText);
    /// The subject, sender and date boxes of the message in view.
    void setHeaderBoxes(const QString& subject, const QString& from, const QString& date);

    int FindPos() const { return m_findPos; }

    // Handlers, named after control and event.
    void MailListView_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void mnew_Click();
    void mopen_Click();
    void msave_Click();
    void mprint_Click();
    void mend_Click();
    void mall_Click();
    void matamajump_Click();
    void mbunmatujump_Click();
    void mkensaku_Click();
    void mtugikensaku_Click();
    void mcut_Click();
    void mcopy_Click();
    void mpaste_Click();
    void tbToolBar_ButtonClick(QAction* button);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class HeaderText { Trimmed, AsStored };

    void buildControls();
    void buildMenus();
    void buildToolBar();
    void wireControls();
    void installHoverHints();
    void placeDesignGeometry();

    storage::HistoryFile historyFile() const;
    storage::MailRecord& historyBuffer();
    void fillList(HeaderText mode);
    void showRecord(const storage::MailRecord& record, HeaderText mode);
    void clearShownMessage();
    /// The record in the boxes, byte for byte, so a deletion can tell it is still there.
    void rememberShown(int recordNo, const QByteArray& bytes);
    /// The メール menu and the cut-body note follow the message shown (after its body is in the pane).
    void offerOriginal();
    void normaliseBody();
    QModelIndex selectedRow() const;
    void reportNotSelected();
    void reportStorageFailure(const common::Status& status);
    bool consumeSelection();
    void handOffToAddressBook();
    void handOffToReply();

    void onMouseMove(QObject* watched);
    void anchorToStatusBar();

    void initialiseEditor();
    void NewEditorFile();
    void OpenTextFile();
    /// False when the dialog was cancelled.
    bool SaveTextAs();
    bool SaveToEditorFile();
    void PrintText();
    void paneToMessageText();
    void cutSelection();
    void copySelection();
    void pasteClipboard();
    void selectMatch();
    void toggleFontAttribute(std::int16_t& counter, void (*apply)(QFont&, bool));

    ui::Application& m_app;
    HistoryListModel* m_model = nullptr;
    int m_findPos = 0;
    int m_shownRecordNo = 0;
    QByteArray m_shownRecord;
    MailMenu* m_mailMenu = nullptr;
    TruncationNote* m_truncationNote = nullptr;

    QWidget* m_client = nullptr;
    QTreeView* MailListView = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QPlainTextEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text6 = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text9 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label4 = nullptr;
    QTextEdit* rtfEd = nullptr;
    QTextEdit* rtfWk = nullptr;
    QListWidget* lstLst = nullptr;
    QListWidget* lstWk = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command6 = nullptr;
    QToolBar* tbToolBar = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* Picture1_1 = nullptr;
    QLabel* Picture4 = nullptr;
    QLabel* Image1 = nullptr;
};

} // namespace corvidan::history
