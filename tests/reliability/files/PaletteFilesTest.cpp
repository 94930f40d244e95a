// Palette pages the user edited in an editor that saves UTF-8: the palette shows
// them as written, and closing it (which rewrites every page) keeps each page in
// its own encoding, so no character is lost to code page 932.

#include "emoticons/PaletteFiles.h"

#include "FilesWindowTest.h"
#include "common/Cp932.h"
#include "emoticons/KaoForm.h"

namespace corvidan::test {
namespace {

using badfiles::readFile;
using badfiles::writeFile;

class PaletteFiles : public FilesWindowTest {
protected:
    QString page(int index) const { return emoticons::palettePath(dir.appDir(), index); }
    emoticons::KaoForm* open() { return app->forms().get<emoticons::KaoForm>(); }
    void closePalette(emoticons::KaoForm* form)
    {
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST_F(PaletteFiles, PagesSavedAsUtf8ReadAsWrittenAndStayUtf8)
{
    // Characters code page 932 lacks: a heart suit, an emoji, a Korean syllable.
    const QString faces = QStringLiteral("(＾▽＾)♥\r\n(｀・ω・´)📧\r\n안녕");
    const QByteArray bom = "\xEF\xBB\xBF";
    writeFile(page(0), bom + faces.toUtf8());
    writeFile(page(1), faces.toUtf8());
    const QByteArray cp932 = common::cp932::encode(QStringLiteral("☆ミ\r\n(^^)"));
    writeFile(page(2), cp932);

    emoticons::KaoForm* form = open();
    EXPECT_EQ(form->pageBox(0)->toPlainText(),
              QString(faces).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    EXPECT_EQ(form->pageBox(1)->toPlainText(), form->pageBox(0)->toPlainText());
    EXPECT_EQ(form->pageBox(2)->toPlainText(), QStringLiteral("☆ミ\n(^^)"));
    closePalette(form);

    EXPECT_EQ(readFile(page(0)), bom + faces.toUtf8() + "\r\n") << "mark and every character kept";
    EXPECT_EQ(readFile(page(1)), faces.toUtf8() + "\r\n");
    EXPECT_EQ(readFile(page(2)), cp932 + "\r\n") << "code page 932 pages stay byte for byte";
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();

    // A UTF-8 page whose Japanese the user deleted gets the mark that keeps it UTF-8.
    form = open();
    form->pageBox(1)->setPlainText(QStringLiteral("ü"));
    closePalette(form);
    EXPECT_EQ(readFile(page(1)), bom + QStringLiteral("ü\r\n").toUtf8());
    form = open();
    EXPECT_EQ(form->pageBox(1)->toPlainText(), QStringLiteral("ü\n"));
    closePalette(form);
}

} // namespace
} // namespace corvidan::test
