#include "support/ScriptedUi.h"

#include <QPrinter>

namespace corvidan::test {

using ui::MsgAnswer;
using ui::MsgButtons;

QStringList ScriptedUi::shownTexts() const
{
    QStringList texts;
    for (const Shown& s : m_shown)
        texts << s.text;
    return texts;
}

MsgAnswer ScriptedUi::messageBox(QWidget*, const QString& text, const QString& title,
                                 MsgButtons buttons, ui::MsgIcon icon)
{
    m_shown.push_back({text, title, buttons, icon});
    if (onShown)
        onShown(m_shown.back());
    if (!m_answers.empty()) {
        const MsgAnswer a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    return ui::isQuestion(buttons) ? m_unscriptedQuestion : MsgAnswer::Ok;
}

std::optional<QString> ScriptedUi::openFileName(QWidget*, const QString&, const QString&)
{
    std::optional<QString> name;
    if (!m_fileNames.empty()) {
        name = std::move(m_fileNames.front());
        m_fileNames.pop_front();
    }
    return name;
}

std::optional<QString> ScriptedUi::saveFileName(QWidget* parent, const QString& title,
                                                const QString& filter)
{
    return openFileName(parent, title, filter);
}

std::optional<ui::PrintChoice> ScriptedUi::choosePrinter(QWidget*, bool selectionOffered)
{
    m_lastSelectionOffered = selectionOffered;
    if (m_prints.empty() || !m_prints.front().pdfPath) {
        if (!m_prints.empty())
            m_prints.pop_front();
        return std::nullopt;
    }
    PrintScript script = m_prints.front();
    m_prints.pop_front();
    ui::PrintChoice choice;
    choice.printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    choice.printer->setOutputFormat(QPrinter::PdfFormat);
    choice.printer->setOutputFileName(*script.pdfPath);
    choice.copies = script.copies;
    return choice;
}

bool ScriptedUi::openUrl(const QUrl& url)
{
    m_urls.push_back(url);
    return m_browserWorks;
}

} // namespace corvidan::test
