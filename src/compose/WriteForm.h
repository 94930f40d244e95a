#pragma once

#include <QHash>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace corvidan::ui {
class Application;
class HoverHints;
}

namespace corvidan::compose {

class MailSender;

/// The compose window "新規作成・送信": writes a new message and sends it to one
/// recipient or, in bulk mode, to every entry of the address list it shows.
class WriteForm : public QWidget {
    Q_OBJECT
public:
    explicit WriteForm(ui::Application& app, QWidget* parent = nullptr);

    void Form_Load();

    void Command1_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command2_Click();
    void AttachCommand_Click();
    void Option1_Click();
    void Option2_Click();
    void List1_MouseDown();
    void Combo1_LostFocus();
    void Label7_DblClick();

    /// Record numbers of the address list's rows, plus the spare last entry.
    const std::vector<std::int16_t>& ListRecordNo() const { return m_listRecordNo; }

    /// Replaces the clock-seeded fortune draw (tests pin r).
    /// The fortune switch ("おみくじ"), set by the launcher at start-up.
    void setFortuneChecked(bool on);
    /// Puts text into the body at its cursor (the palette's insert).
    void insertText(const QString& text);
    void setFortuneDraw(std::function<float()> draw);
    /// Replaces how messages reach the server (tests and benchmarks).
    void setSenderFactory(std::function<std::unique_ptr<MailSender>()> factory);

    static QStringList stockPhrases();
    static QString command8Hint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    void setHints();
    void fillAddressList(bool fromAddressBook);
    void centreOnScreen();
    void setOuterSizeTw(int widthTw, int heightTw);
    void setListColour(bool bulk);
    void deselectOption2();
    void showAttachmentList(bool shown);
    QString bodyText() const;
    void setBodyText(const QString& crlfText);
    QString clockText() const;
    std::unique_ptr<MailSender> makeSender();

    ui::Application& m_app;
    std::vector<std::int16_t> m_listRecordNo;
    bool m_sending = false;
    int m_outerWidthTw = 0;
    int m_outerHeightTw = 0;
    ui::HoverHints* m_hints = nullptr;
    QWidget* m_fortuneCaption = nullptr;
    QWidget* m_fortuneRow = nullptr;
    std::function<float()> m_fortuneDraw;
    std::function<std::unique_ptr<MailSender>()> m_senderFactory;

    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command8 = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command10 = nullptr;
    QPushButton* Command11 = nullptr;
    QPushButton* AttachCommand = nullptr;
    QLineEdit* ToText = nullptr;
    QLineEdit* SubjectText = nullptr;
    QLineEdit* AttachText = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QComboBox* Combo1 = nullptr;
    QListWidget* List1 = nullptr;
    QListWidget* List2 = nullptr;
    QPlainTextEdit* BodyText = nullptr;
    QPlainTextEdit* Text14 = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QLabel* Label7 = nullptr;
    QFrame* Picture5 = nullptr;
};

} // namespace corvidan::compose
