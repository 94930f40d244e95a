// The body pane as a text editor: find, clipboard, files, fonts, printing.
#include "HistoryTestSupport.h"

#include "common/Cp932.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>

namespace corvidan::test {
namespace {

class HistoryEditor : public HistoryViewerTest {
protected:
    void SetUp() override
    {
        HistoryViewerTest::SetUp();
        open(1);
    }
    void setPane(const QString& text) { pane()->setPlainText(text); }
    std::pair<int, int> selection() const
    {
        const QTextCursor c = pane()->textCursor();
        return {c.selectionStart(), c.selectionEnd() - c.selectionStart()};
    }
    void select(int start, int length)
    {
        QTextCursor c = pane()->textCursor();
        c.setPosition(start);
        c.setPosition(start + length, QTextCursor::KeepAnchor);
        pane()->setTextCursor(c);
    }
    void toolbar(const char* key) { trigger(key); }
    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
};

TEST_F(HistoryEditor, FindAndFindNextWalkTheMatchesWithoutWrapping)
{
    setPane(QStringLiteral("abcabc"));
    box("Text1")->setText(QStringLiteral("b"));
    trigger("mkensaku");
    EXPECT_EQ(form->FindPos(), 2);
    EXPECT_EQ(selection(), std::make_pair(1, 1));
    trigger("mtugikensaku");
    EXPECT_EQ(form->FindPos(), 5);
    EXPECT_EQ(selection(), std::make_pair(4, 1));
    trigger("mtugikensaku");
    EXPECT_EQ(form->FindPos(), 0);
    EXPECT_EQ(selection(), std::make_pair(4, 1)) << "a miss leaves the selection";
    trigger("mtugikensaku");
    EXPECT_EQ(form->FindPos(), 2) << "after a miss the search starts near the top again";
}

TEST_F(HistoryEditor, FindWithAnEmptySearchTextSelectsNothingAtTheStart)
{
    setPane(QStringLiteral("abcabc"));
    select(3, 2);
    box("Text1")->clear();
    trigger("mkensaku");
    EXPECT_EQ(selection(), std::make_pair(0, 0));
}

TEST_F(HistoryEditor, FindNextBeforeAnyFindStartsAtTheSearchTextsLength)
{
    setPane(QStringLiteral("abcabc"));
    box("Text1")->setText(QStringLiteral("ab"));
    trigger("mtugikensaku");
    EXPECT_EQ(form->FindPos(), 4);
    EXPECT_EQ(selection(), std::make_pair(3, 2));
    box("Text1")->setText(QStringLiteral("B"));
    trigger("mkensaku");
    EXPECT_EQ(form->FindPos(), 0) << "the comparison is exact";
}

TEST_F(HistoryEditor, CopyWithoutSelectionEmptiesTheClipboardAndGoesToTheStart)
{
    setPane(QStringLiteral("hello world"));
    QGuiApplication::clipboard()->setText(QStringLiteral("old"));
    select(11, 0);
    trigger("mcopy");
    EXPECT_EQ(clipboardText(), QString());
    EXPECT_EQ(selection(), std::make_pair(0, 0));

    select(6, 5);
    toolbar("Copy");
    EXPECT_EQ(clipboardText(), QStringLiteral("world"));
    EXPECT_EQ(selection(), std::make_pair(11, 0));
    EXPECT_EQ(paneText(), QStringLiteral("hello world"));
}

TEST_F(HistoryEditor, CutMovesTheSelectionToTheClipboard)
{
    setPane(QStringLiteral("one\ntwo"));
    select(2, 3);
    trigger("mcut");
    EXPECT_EQ(clipboardText(), QStringLiteral("e\nt"));
    EXPECT_EQ(paneText(), QStringLiteral("onwo"));
}

TEST_F(HistoryEditor, PasteInsertsTheClipboardWithoutSurroundingBlanksLeftAligned)
{
    setPane(QStringLiteral("[]"));
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    pane()->textCursor().mergeBlockFormat(right);
    QGuiApplication::clipboard()->setText(QStringLiteral("  貼り付け  "));
    select(1, 0);
    trigger("mpaste");
    EXPECT_EQ(paneText(), QStringLiteral("[貼り付け]"));
    EXPECT_EQ(pane()->document()->firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignLeft);

    select(0, 1);
    QGuiApplication::clipboard()->setText(QStringLiteral(" x\r\ny "));
    toolbar("Paste");
    EXPECT_EQ(paneText(), QStringLiteral("x\ny貼り付け]"));
}

TEST_F(HistoryEditor, SelectAllAndJumps)
{
    setPane(QStringLiteral("abc\ndef"));
    trigger("mall");
    EXPECT_EQ(selection(), std::make_pair(0, 7));
    trigger("mbunmatujump");
    EXPECT_EQ(selection(), std::make_pair(7, 0));
    trigger("matamajump");
    EXPECT_EQ(selection(), std::make_pair(0, 0));
}

TEST_F(HistoryEditor, BoldItalicUnderlineFlipTheWholePaneFont)
{
    toolbar("Bold");
    EXPECT_TRUE(pane()->font().bold());
    toolbar("Bold");
    EXPECT_FALSE(pane()->font().bold());
    toolbar("Bold");
    EXPECT_TRUE(pane()->font().bold());
    EXPECT_EQ(app->state().editor.BoldToggle, 1);
    toolbar("Italic");
    EXPECT_TRUE(pane()->font().italic());
    toolbar("Underline");
    toolbar("Underline");
    EXPECT_FALSE(pane()->font().underline());
    EXPECT_EQ(app->state().editor.UnderlineToggle, 2);
    EXPECT_EQ(pane()->font().family(), QStringLiteral("ＭＳ ゴシック"));
}

class HistoryEditorFiles : public HistoryEditor {
protected:
    void SetUp() override
    {
        previous = QDir::currentPath();
        ASSERT_TRUE(work.isValid());
        QDir::setCurrent(work.path());
        HistoryEditor::SetUp();
    }
    void TearDown() override
    {
        HistoryEditor::TearDown();
        QDir::setCurrent(previous);
    }
    QString previous;
    QTemporaryDir work;
};

TEST_F(HistoryEditorFiles, NewWithoutAFileCreatesNewFileInTheDataFolderOnce)
{
    const QString created = dir.path(u"\\★MAilData\\新規作成.TXT");
    setPane(QStringLiteral("unsaved"));
    trigger("mnew");
    EXPECT_TRUE(QFileInfo::exists(created));
    EXPECT_EQ(readFile(created), QByteArray());
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList()) << "nothing in the working folder";
    EXPECT_EQ(paneText(), QString());
    EXPECT_EQ(QFileInfo(app->state().editor.EditorFileName), QFileInfo(created));
    EXPECT_FALSE(app->state().editor.EditorModified);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("新規作成.TXT      ") + app->state().editor.EditorFileName);
    EXPECT_TRUE(ui.shown().empty());

    setPane(QStringLiteral("typed later"));
    form->setWindowTitle(QStringLiteral("other"));
    toolbar("New");
    EXPECT_EQ(paneText(), QStringLiteral("typed later"));
    EXPECT_EQ(readFile(created), QByteArray());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("other"));
}

TEST_F(HistoryEditorFiles, NewThatCannotWriteSaysSoOnceAndTheViewerStillOpens)
{
    // Something in the file's way fails the write even for a privileged user,
    // as a read-only program folder does for an ordinary one.
    const QString blocked = dir.path(u"\\★MAilData\\新規作成.TXT");
    ASSERT_TRUE(QDir().mkdir(blocked));
    setPane(QStringLiteral("unsaved"));
    form->setWindowTitle(QStringLiteral("着信履歴"));
    trigger("mnew");
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_TRUE(ui.shown()[0].text.contains(QStringLiteral("新規作成.TXT")));
    EXPECT_TRUE(ui.shown()[0].text.contains(QStringLiteral("できませんでした")));
    EXPECT_EQ(ui.shown()[0].buttons, ui::MsgButtons::Ok);
    EXPECT_EQ(app->state().editor.EditorFileName, QString());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("着信履歴"));
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList());

    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    storeNumbered(1, 1);
    ASSERT_NE(open(1), nullptr);
    EXPECT_EQ(ui.shown().size(), 1u) << "reopening the viewer asks nothing";
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(list()->model()->rowCount(), 1);
}

TEST_F(HistoryEditorFiles, NewSavesAModifiedPaneToTheBoundFileFirst)
{
    const QString bound = work.filePath(QStringLiteral("memo.txt"));
    app->state().editor.EditorFileName = bound;
    setPane(QStringLiteral("メモ\n二行"));
    trigger("mnew");
    EXPECT_EQ(readFile(bound), common::cp932::encode(QStringLiteral("メモ\r\n二行")));
    EXPECT_EQ(app->state().editor.EditorFileName, work.filePath(QStringLiteral("新規作成.TXT")));
    EXPECT_TRUE(QFileInfo::exists(work.filePath(QStringLiteral("新規作成.TXT"))));
}

TEST_F(HistoryEditorFiles, OpenShowsEveryLineEndedAndSaveAddsOneLineEnd)
{
    const QString opened = work.filePath(QStringLiteral("two.txt"));
    writeFile(opened, common::cp932::encode(QStringLiteral("一行目\r\nline two")));
    ui.queueFileName(opened);
    trigger("mopen");
    EXPECT_EQ(paneText(), QStringLiteral("一行目\nline two\n"));
    EXPECT_EQ(form->windowTitle(), opened);
    EXPECT_EQ(app->state().editor.EditorFileName, QString());

    // Saving renders the message around the pane first; the pane's text then
    // gets exactly one more line end.
    const QString saved = work.filePath(QStringLiteral("saved.txt"));
    ui.queueFileName(saved);
    toolbar("Save");
    EXPECT_EQ(readFile(saved), common::cp932::encode(QStringLiteral(
                                   "Subject:  \r\nFrom:  \r\nDate:  \r\nBody:  一行目\r\nline two\r\n\r\n")));
    EXPECT_EQ(form->windowTitle(), saved);
    EXPECT_EQ(app->state().editor.EditorFileName, QString());
}

TEST_F(HistoryEditorFiles, CancelledOrEmptyDialogsChangeNothing)
{
    setPane(QStringLiteral("kept"));
    form->setWindowTitle(QStringLiteral("title"));
    ui.queueFileName(std::nullopt);
    toolbar("Open");
    EXPECT_EQ(paneText(), QStringLiteral("kept"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("title"));

    ui.queueFileName(QString());
    toolbar("Open");
    EXPECT_EQ(form->windowTitle(), QStringLiteral("notitle"));
    EXPECT_EQ(paneText(), QStringLiteral("kept"));

    ui.queueFileName(work.filePath(QStringLiteral("missing.txt")));
    toolbar("Open");
    EXPECT_EQ(paneText(), QStringLiteral("kept"));

    ui.queuePrintToPdf(std::nullopt);
    toolbar("Print");
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList());
}

TEST_F(HistoryEditorFiles, EditorInitialisationLoadsTheBoundFileOrReportsFormLoadError)
{
    const QString bound = work.filePath(QStringLiteral("bound.txt"));
    writeFile(bound, common::cp932::encode(QStringLiteral("前回の\r\n内容")));
    box("Text1")->setText(QStringLiteral("x"));
    setPane(QStringLiteral("x"));
    trigger("mkensaku");
    ASSERT_EQ(form->FindPos(), 1);
    trigger("mend");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(app->forms().find<history::TyakuForm>(), nullptr) << "終了 unloads the window";
    app->state().editor.EditorFileName = bound;
    app->state().editor.EditorModified = true;
    form = app->forms().get<history::TyakuForm>();
    EXPECT_EQ(paneText(), QStringLiteral("前回の\n内容"));
    EXPECT_EQ(form->FindPos(), 0);
    EXPECT_EQ(box("Text5")->text(), QString());
    EXPECT_FALSE(app->state().editor.EditorModified);
    EXPECT_TRUE(ui.shown().empty());

    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    app->state().editor.EditorFileName = work.filePath(QStringLiteral("gone.txt"));
    ui.queueAnswer(ui::MsgAnswer::Ok);
    ui.queueAnswer(ui::MsgAnswer::Cancel);
    form = app->forms().get<history::TyakuForm>();
    ASSERT_EQ(ui.shown().size(), 2u) << "OK retries the failed step, Cancel goes on";
    EXPECT_EQ(ui.shown()[0].text, QString());
    EXPECT_EQ(ui.shown()[0].title, ui::UiSeam::applicationTitle() + QStringLiteral("  Form_LoadError"));
    EXPECT_EQ(ui.shown()[0].buttons, ui::MsgButtons::OkCancel);
    EXPECT_EQ(ui.shown()[0].icon, ui::MsgIcon::Exclamation);
    EXPECT_EQ(form->FindPos(), 0);

    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    form = app->forms().get<history::TyakuForm>();
    EXPECT_EQ(ui.shown().size(), 2u) << "once given up, the next opening does not ask again";
}

TEST_F(HistoryEditorFiles, PrintWritesThePaneTextOncePerCopy)
{
    setPane(QStringLiteral("Printed line ABC\n印刷"));
    const QString pdf = work.filePath(QStringLiteral("out.pdf"));
    ui.queuePrintToPdf(pdf, 2);
    toolbar("Print");
    EXPECT_FALSE(ui.lastPrintOfferedSelection());
    ASSERT_GT(QFileInfo(pdf).size(), 0);
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    ASSERT_FALSE(pdftotext.isEmpty()) << "pdftotext is needed (scripts/install-deps installs it)";
    QProcess p;
    p.start(pdftotext, {pdf, QStringLiteral("-")});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(text.count(QStringLiteral("Printed line ABC")), 2);
    EXPECT_EQ(text.count(QChar(u'\f')), 2) << "each copy on a page of its own";

    // With a selection only the selection is printed, and the menu item prints too.
    select(8, 4);
    const QString selectionPdf = work.filePath(QStringLiteral("selection.pdf"));
    ui.queuePrintToPdf(selectionPdf);
    trigger("mprint");
    EXPECT_TRUE(ui.lastPrintOfferedSelection());
    QProcess q;
    q.start(pdftotext, {selectionPdf, QStringLiteral("-")});
    ASSERT_TRUE(q.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(q.readAllStandardOutput()).trimmed(), QStringLiteral("line"));
}

} // namespace
} // namespace corvidan::test
