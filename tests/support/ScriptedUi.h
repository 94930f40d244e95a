#pragma once

#include "ui/UiSeam.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace corvidan::test {

/// A dialog seam for tests: records every message box and answers from a script.
class ScriptedUi final : public ui::UiSeam {
public:
    struct Shown {
        QString text;
        QString title;
        ui::MsgButtons buttons;
        ui::MsgIcon icon;
    };

    /// Answers for the next message boxes, in order; when the script is empty a
    /// box is answered Ok (or No for a question).
    void queueAnswer(ui::MsgAnswer answer) { m_answers.push_back(answer); }
    /// Next file dialog result; an empty optional means the user cancels.
    void queueFileName(std::optional<QString> name) { m_fileNames.push_back(std::move(name)); }
    /// Next print dialog: print to this PDF file with `copies`, or cancel when empty.
    void queuePrintToPdf(std::optional<QString> pdfPath, int copies = 1)
    {
        m_prints.push_back({std::move(pdfPath), copies});
    }
    void setBrowserWorks(bool works) { m_browserWorks = works; }
    /// The answer to a question the script does not answer (No unless set).
    void setUnscriptedQuestionAnswer(ui::MsgAnswer answer) { m_unscriptedQuestion = answer; }
    /// Called with each box as it is shown, after it is recorded.
    std::function<void(const Shown&)> onShown;

    const std::vector<Shown>& shown() const { return m_shown; }
    QStringList shownTexts() const;
    const std::vector<QUrl>& openedUrls() const { return m_urls; }
    bool lastPrintOfferedSelection() const { return m_lastSelectionOffered; }
    void clear() { m_shown.clear(); }

    ui::MsgAnswer messageBox(QWidget* parent, const QString& text, const QString& title,
                             ui::MsgButtons buttons, ui::MsgIcon icon) override;
    std::optional<QString> openFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    std::optional<ui::PrintChoice> choosePrinter(QWidget* parent, bool selectionOffered) override;
    bool openUrl(const QUrl& url) override;

private:
    struct PrintScript {
        std::optional<QString> pdfPath;
        int copies;
    };
    std::deque<ui::MsgAnswer> m_answers;
    std::deque<std::optional<QString>> m_fileNames;
    std::deque<PrintScript> m_prints;
    std::vector<Shown> m_shown;
    std::vector<QUrl> m_urls;
    bool m_browserWorks = true;
    bool m_lastSelectionOffered = false;
    ui::MsgAnswer m_unscriptedQuestion = ui::MsgAnswer::No;
};

} // namespace corvidan::test
