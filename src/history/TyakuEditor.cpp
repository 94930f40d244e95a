// The body pane as a small text editor: files, printing, clipboard, find, fonts.
#include "history/TyakuForm.h"

#include "common/AppDir.h"
#include "common/Cp932.h"
#include "common/Durable.h"
#include "history/ViewerText.h"
#include "ui/Application.h"
#include "ui/Widgets.h"
#include "texts/ErrorText.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPrinter>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextEdit>

namespace corvidan::history {

namespace {

const QString TextFileFilter = QStringLiteral("txtファイル(*.txt,*.ini) (*.txt *.ini)");

std::optional<QByteArray> readWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

/// Draws `text` on `printer` once per copy, each copy starting on a page of its own.
void printCopies(QPrinter& printer, const QString& text, const QFont& font, int copies)
{
    QTextDocument doc;
    doc.setDefaultFont(font);
    doc.setPlainText(text);
    doc.documentLayout()->setPaintDevice(&printer);
    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    doc.setPageSize(page.size());
    const int pages = doc.pageCount();

    QPainter painter;
    if (!painter.begin(&printer))
        return;
    bool firstPage = true;
    for (int copy = 0; copy < std::max(1, copies); ++copy) {
        for (int p = 0; p < pages; ++p) {
            if (!firstPage)
                printer.newPage();
            firstPage = false;
            const QRectF slice(0, p * page.height(), page.width(), page.height());
            painter.save();
            painter.translate(0, -slice.top());
            doc.drawContents(&painter, slice);
            painter.restore();
        }
    }
    painter.end();
}

QString selectedPlainText(const QTextCursor& cursor)
{
    return cursor.selection().toPlainText();
}

void setBold(QFont& f, bool on) { f.setBold(on); }
void setItalic(QFont& f, bool on) { f.setItalic(on); }
void setUnderline(QFont& f, bool on) { f.setUnderline(on); }

} // namespace

void TyakuForm::initialiseEditor()
{
    lstLst->hide();
    ui::EditorState& editor = m_app.state().editor;
    // An empty name binds no file yet; the list fill replaces the pane anyway.
    while (!editor.EditorFileName.isEmpty()) {
        if (std::optional<QByteArray> bytes = readWholeFile(editor.EditorFileName)) {
            setBodyText(common::cp932::decode(*bytes));
            break;
        }
        const ui::MsgAnswer answer =
            m_app.ui().messageBox(this, QString(),
                                  ui::UiSeam::applicationTitle() + QStringLiteral("  Form_LoadError"),
                                  ui::MsgButtons::OkCancel, ui::MsgIcon::Exclamation);
        if (answer != ui::MsgAnswer::Ok) {
            // Given up once, the file is not asked for again at every later opening.
            editor.EditorFileName.clear();
            break;
        }
    }
    editor.EditorModified = false;
    lstLst->hide();
    rtfEd->setVisible(true);
}

bool TyakuForm::SaveToEditorFile()
{
    ui::EditorState& editor = m_app.state().editor;
    if (editor.EditorFileName.isEmpty())
        return false;
    if (const QString refusal = ui::unsavableCharactersMessage(bodyText()); !refusal.isEmpty()) {
        m_app.notify(this, refusal, ui::MsgIcon::Exclamation);
        return false;
    }
    const QByteArray bytes = common::cp932::encode(bodyText());
    if (!common::durable::replaceFile(editor.EditorFileName, bytes))
        return false;
    editor.EditorModified = false;
    return true;
}

void TyakuForm::NewEditorFile()
{
    ui::EditorState& editor = m_app.state().editor;
    if (editor.EditorFileName.contains(NewFileName))
        return;
    // Text refused for characters the file cannot hold stays in the pane.
    if (editor.EditorModified && !SaveToEditorFile() && !common::cp932::lacking(bodyText()).isEmpty())
        return;
    rtfEd->setPlainText(QString());
    editor.EditorFileName =
        newEditorFileName(editor.EditorFileName, m_app.appDir().path(common::paths::DataDir));
    const bool saved = SaveToEditorFile();
    editor.EditorModified = false;
    if (!saved) {
        // Left bound, the file would be asked for at every later opening of the viewer.
        const QString failed = editor.EditorFileName;
        editor.EditorFileName.clear();
        m_app.notify(this,
                     QStringLiteral("「新規作成.TXT」を作成できませんでした。\n") +
                         QDir::toNativeSeparators(failed),
                     ui::MsgIcon::Exclamation);
        return;
    }
    setWindowTitle(NewFileName + QStringLiteral("      ") + editor.EditorFileName);
}

void TyakuForm::OpenTextFile()
{
    const std::optional<QString> name = m_app.ui().openFileName(this, QStringLiteral("開く"), TextFileFilter);
    if (!name)
        return;
    if (name->isEmpty()) {
        setWindowTitle(QStringLiteral("notitle"));
        return;
    }
    const std::optional<QByteArray> bytes = readWholeFile(*name);
    if (!bytes)
        return;
    setWindowTitle(*name);
    rtfEd->setPlainText(paneTextFromFile(common::cp932::decode(*bytes)));
}

bool TyakuForm::SaveTextAs()
{
    // Asked before the file dialog: the text files are code page 932.
    if (const QString refusal = ui::unsavableCharactersMessage(bodyText()); !refusal.isEmpty()) {
        m_app.notify(this, refusal, ui::MsgIcon::Exclamation);
        return false;
    }
    const std::optional<QString> name =
        m_app.ui().saveFileName(this, QStringLiteral("名前を付けて保存"), TextFileFilter);
    if (!name || name->isEmpty())
        return false;
    setWindowTitle(*name);
    const QByteArray bytes = common::cp932::encode(bodyText() + QStringLiteral("\r\n"));
    const common::Status status = common::durable::replaceFile(*name, bytes);
    if (!status)
        m_app.notify(this, QStringLiteral("ファイルを保存できませんでした。\n") + texts::StatusText(status),
                     ui::MsgIcon::Exclamation);
    return true;
}

void TyakuForm::PrintText()
{
    const QTextCursor cursor = rtfEd->textCursor();
    const bool hasSelection = cursor.hasSelection();
    const QString text = hasSelection ? selectedPlainText(cursor) : rtfEd->toPlainText();
    std::optional<ui::PrintChoice> choice = m_app.ui().choosePrinter(this, hasSelection);
    if (!choice || !choice->printer)
        return;
    // Name, size, bold and italic go to the printer; underline does not.
    const QFont paneFont = rtfEd->font();
    QFont font(paneFont.family());
    font.setPointSizeF(paneFont.pointSizeF());
    font.setBold(paneFont.bold());
    font.setItalic(paneFont.italic());
    printCopies(*choice->printer, text, font, choice->copies);
}

void TyakuForm::paneToMessageText()
{
    setBodyText(MessageAsText(Text7->text(), Text8->text(), Text9->text(), bodyText()));
}

void TyakuForm::cutSelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    rtfEd->setUpdatesEnabled(false);
    QTextCursor cursor = rtfEd->textCursor();
    clipboard->clear();
    clipboard->setText(selectedPlainText(cursor));
    cursor.removeSelectedText();
    rtfEd->setTextCursor(cursor);
    rtfEd->setUpdatesEnabled(true);
    rtfEd->setFocus();
}

void TyakuForm::copySelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    rtfEd->setUpdatesEnabled(false);
    QTextCursor cursor = rtfEd->textCursor();
    const int end = cursor.hasSelection() ? cursor.selectionEnd() : 0;
    clipboard->clear();
    clipboard->setText(selectedPlainText(cursor));
    cursor.clearSelection();
    cursor.setPosition(end);
    rtfEd->setTextCursor(cursor);
    rtfEd->setUpdatesEnabled(true);
    rtfEd->setFocus();
}

void TyakuForm::pasteClipboard()
{
    rtfEd->setFocus();
    rtfEd->setUpdatesEnabled(false);
    const QString text = trimBlanks(toPaneText(QGuiApplication::clipboard()->text()));
    QTextCursor cursor = rtfEd->textCursor();
    const int start = cursor.selectionStart();
    cursor.insertText(text);
    rtfEd->setTextCursor(cursor);
    rtfEd->setUpdatesEnabled(true);
    rtfEd->setFocus();
    // The pasted paragraphs start out left-aligned whatever they were before.
    QTextCursor pasted(rtfEd->document());
    pasted.setPosition(start);
    pasted.setPosition(cursor.position(), QTextCursor::KeepAnchor);
    QTextBlockFormat left;
    left.setAlignment(Qt::AlignLeft);
    pasted.mergeBlockFormat(left);
}

void TyakuForm::selectMatch()
{
    rtfEd->setFocus();
    QTextCursor cursor = rtfEd->textCursor();
    cursor.setPosition(m_findPos - 1);
    cursor.setPosition(m_findPos - 1 + static_cast<int>(Text1->text().size()), QTextCursor::KeepAnchor);
    rtfEd->setTextCursor(cursor);
}

void TyakuForm::toggleFontAttribute(std::int16_t& counter, void (*apply)(QFont&, bool))
{
    QFont font = rtfEd->font();
    if (counter % 2 != 0) {
        apply(font, false);
        counter = 2;
    } else {
        apply(font, true);
        counter = 1;
    }
    rtfEd->setFont(font);
}

void TyakuForm::mnew_Click() { NewEditorFile(); }
void TyakuForm::mopen_Click() { OpenTextFile(); }

void TyakuForm::msave_Click()
{
    // The message is rendered before the dialog asks; a cancel puts the pane back.
    const QString before = rtfEd->toPlainText();
    paneToMessageText();
    if (!SaveTextAs())
        rtfEd->setPlainText(before);
}

void TyakuForm::mprint_Click() { PrintText(); }
void TyakuForm::mend_Click() { close(); }

void TyakuForm::mall_Click()
{
    QTextCursor cursor = rtfEd->textCursor();
    cursor.select(QTextCursor::Document);
    rtfEd->setTextCursor(cursor);
}

void TyakuForm::matamajump_Click()
{
    QTextCursor cursor = rtfEd->textCursor();
    cursor.setPosition(0);
    rtfEd->setTextCursor(cursor);
    rtfEd->setFocus();
}

void TyakuForm::mbunmatujump_Click()
{
    QTextCursor cursor = rtfEd->textCursor();
    cursor.movePosition(QTextCursor::End);
    rtfEd->setTextCursor(cursor);
    rtfEd->setFocus();
}

void TyakuForm::mkensaku_Click()
{
    m_findPos = findPosition(rtfEd->toPlainText(), Text1->text(), 1);
    if (m_findPos > 0)
        selectMatch();
}

void TyakuForm::mtugikensaku_Click()
{
    const QString needle = Text1->text();
    m_findPos = findPosition(rtfEd->toPlainText(), needle, findNextStart(m_findPos, needle));
    if (m_findPos > 0)
        selectMatch();
}

void TyakuForm::mcut_Click() { cutSelection(); }
void TyakuForm::mcopy_Click() { copySelection(); }

void TyakuForm::mpaste_Click()
{
    pasteClipboard();
    QTextBlockFormat left;
    left.setAlignment(Qt::AlignLeft);
    rtfEd->textCursor().mergeBlockFormat(left);
}

void TyakuForm::tbToolBar_ButtonClick(QAction* button)
{
    const QString key = button->objectName();
    ui::EditorState& editor = m_app.state().editor;
    if (key == u"New")
        NewEditorFile();
    else if (key == u"Open")
        OpenTextFile();
    else if (key == u"Save")
        msave_Click();
    else if (key == u"Print")
        PrintText();
    else if (key == u"Cut")
        cutSelection();
    else if (key == u"Copy")
        copySelection();
    else if (key == u"Paste")
        pasteClipboard();
    else if (key == u"Bold")
        toggleFontAttribute(editor.BoldToggle, setBold);
    else if (key == u"Italic")
        toggleFontAttribute(editor.ItalicToggle, setItalic);
    else if (key == u"Underline")
        toggleFontAttribute(editor.UnderlineToggle, setUnderline);
}

} // namespace corvidan::history
