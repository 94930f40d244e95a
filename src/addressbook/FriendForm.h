#pragma once

#include <QHash>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace corvidan::common {
class Status;
}
namespace corvidan::ui {
class Application;
class HoverHints;
}

namespace corvidan::addressbook {

/// The address book window "アドレス帳": lists every entry of the address book
/// file (row n is record n), registers, deletes and builds name-card addresses.
class FriendForm : public QWidget {
    Q_OBJECT
public:
    explicit FriendForm(ui::Application& app, QWidget* parent = nullptr);

    void Form_Load();
    /// The address box, filled by the viewer's hand-on.
    void setAddressText(const QString& address);

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command38_Click();
    void MailListView_MouseDown();

    static QString command38Hint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    /// 1-based record number of the selected row, or 0.
    int selectedRecordNo() const;
    void reportStorageError(const common::Status& status);

    ui::Application& m_app;
    ui::HoverHints* m_hints = nullptr;

    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text50 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command38 = nullptr;
    QTreeWidget* MailListView = nullptr;
    QPlainTextEdit* Text5 = nullptr;
    QLabel* Label7 = nullptr;
};

} // namespace corvidan::addressbook
