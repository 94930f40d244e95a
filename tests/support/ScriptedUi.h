#pragma once

#include "shell/UiSeam.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

namespace corvidan::test {

/// A dialog seam for tests: records every message box and answers from a script.
class ScriptedUi final : public shell::UiSeam {
public:
    struct Shown {
        QString text;
        QString title;
        shell::MsgButtons buttons;
        shell::MsgIcon icon;
    };

    /// Answers for the next message boxes, in order; when the script is empty a
    /// box is answered Ok (or No for a question).
    void queueAnswer(shell::MsgAnswer answer) { m_answers.push_back(answer); }
    /// Next file dialog result; an empty optional means the user cancels.
    void queueFileName(std::optional<QString> name) { m_fileNames.push_back(std::move(name)); }
    /// Next print dialog: print to this PDF file with `copies`, or cancel when empty.
    void queuePrintToPdf(std::optional<QString> pdfPath, int copies = 1)
    {
        m_prints.push_back({std::move(pdfPath), copies});
    }
    void setBrowserWorks(bool works) { m_browserWorks = works; }

    const std::vector<Shown>& shown() const { return m_shown; }
    QStringList shownTexts() const;
    const std::vector<QUrl>& openedUrls() const { return m_urls; }
    bool lastPrintOfferedSelection() const { return m_lastSelectionOffered; }
    void clear() { m_shown.clear(); }

    shell::MsgAnswer messageBox(QWidget* parent, const QString& text, const QString& title,
                                shell::MsgButtons buttons, shell::MsgIcon icon) override;
    std::optional<QString> openFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    std::optional<shell::PrintChoice> choosePrinter(QWidget* parent, bool selectionOffered) override;
    bool openUrl(const QUrl& url) override;

private:
    struct PrintScript {
        std::optional<QString> pdfPath;
        int copies;
    };
    std::deque<shell::MsgAnswer> m_answers;
    std::deque<std::optional<QString>> m_fileNames;
    std::deque<PrintScript> m_prints;
    std::vector<Shown> m_shown;
    std::vector<QUrl> m_urls;
    bool m_browserWorks = true;
    bool m_lastSelectionOffered = false;
};

} // namespace corvidan::test
