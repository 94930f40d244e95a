#pragma once

#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

class QWidget;
class QPrinter;

namespace corvidan::ui {

/// YesNoDefaultNo is for a question whose Yes destroys something: Enter answers No.
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoDefaultNo };
enum class MsgIcon { None, Question, Warning, Exclamation, Information, Critical };
enum class MsgAnswer { Ok, Cancel, Yes, No };

inline bool isQuestion(MsgButtons buttons)
{
    return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoDefaultNo;
}

/// What a print dialog gave back: the printer to draw on and the copies asked for.
struct PrintChoice {
    std::unique_ptr<QPrinter> printer;
    int copies = 1;
};

/// Everything that would block on the user or leave the process: message boxes,
/// file and print dialogs, the browser. Production uses Qt's dialogs; tests
/// install a scripted one that records what was shown and answers it.
class UiSeam {
public:
    virtual ~UiSeam() = default;

    /// The title a message box gets when the program gives it none of its own.
    static QString applicationTitle() { return QStringLiteral("Corvidan"); }

    virtual MsgAnswer messageBox(QWidget* parent, const QString& text, const QString& title,
                                 MsgButtons buttons, MsgIcon icon) = 0;
    /// Empty when cancelled. `filter` uses Qt's "Name (*.a *.b)" form.
    virtual std::optional<QString> openFileName(QWidget* parent, const QString& title,
                                                const QString& filter) = 0;
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                                const QString& filter) = 0;
    /// Shows the print dialog; empty when cancelled.
    virtual std::optional<PrintChoice> choosePrinter(QWidget* parent, bool selectionOffered) = 0;
    /// Opens an address in the desktop's browser; false when none could be started.
    virtual bool openUrl(const QUrl& url) = 0;
};

/// The production seam on Qt's own dialogs.
class QtUiSeam final : public UiSeam {
public:
    MsgAnswer messageBox(QWidget* parent, const QString& text, const QString& title,
                         MsgButtons buttons, MsgIcon icon) override;
    std::optional<QString> openFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    std::optional<PrintChoice> choosePrinter(QWidget* parent, bool selectionOffered) override;
    bool openUrl(const QUrl& url) override;
};

} // namespace corvidan::ui
