// The viewer's メール menu over kept originals: the whole message, its charset,
// its HTML copy, its attachments, and the note on a cut body.
#include "HistoryTestSupport.h"

#include "history/AttachmentsDialog.h"
#include "history/OriginalText.h"
#include "history/OriginalView.h"
#include "support/ScriptedMailbox.h"
#include "transport/ReceiveMail.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

namespace corvidan::test {
namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// A message of two text parts and two attachments, one with a hostile name.
QByteArray messageWithParts(const QByteArray& html, const QByteArray& pdf)
{
    return "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.jp>\r\nSubject: =?UTF-8?B?5aCx5ZGK?=\r\n"
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
           "--m\r\nContent-Type: multipart/alternative; boundary=\"a\"\r\n\r\n"
           "--a\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nplain text\r\n"
           "--a\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + html + "\r\n--a--\r\n"
           "--m\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"report.pdf\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" + pdf.toBase64() + "\r\n"
           "--m\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"../../evil.txt\"\r\n\r\n"
           "hostile\r\n--m--\r\n";
}

class HistoryOriginals : public HistoryViewerTest {
protected:
    QAction* item(const char* name) const { return ctl<QAction>(name); }
    /// Opens the menu, which looks the shown message's original up.
    void openMenu() const { emit ctl<QMenu>("mmail")->aboutToShow(); }
    history::OriginalView* originalView() const { return form->findChild<history::OriginalView*>(); }
    QString originalText() const { return control<QPlainTextEdit>(originalView(), QStringLiteral("txtGenbun"))->toPlainText(); }
    QString attachmentFolder() const { return dir.path(u"\\添付フォルダ"); }
};

TEST_F(HistoryOriginals, ItemsAreDisabledNotHiddenForARecordWithoutAnOriginal)
{
    storeNumbered(1, 1);
    open(1);
    openMenu();
    for (const char* name : {"mgenbun", "mhtml", "mhtmlgazou", "mtenpu", "myouryou"}) {
        EXPECT_FALSE(item(name)->isEnabled()) << name;
        EXPECT_TRUE(item(name)->isVisible()) << name;
    }
    EXPECT_EQ(ctl<QMenu>("mmail")->title(), QStringLiteral("メール(&M)"));
    EXPECT_FALSE(ctl<QLabel>("lblTruncated")->isVisible());
    item("mgenbun")->trigger();
    EXPECT_EQ(originalView(), nullptr);
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(HistoryOriginals, ACutBodyIsSaidAndWholeInTheOriginal)
{
    const QByteArray body = QByteArray("0123456789").repeated(4000) + "\r\nLAST LINE\r\n";
    storeNumbered(1, 1);
    storeWithOriginal(1, mail(QStringLiteral("long"), QStringLiteral("a@example.jp"), QStringLiteral("d"),
                              QString::fromLatin1(body)),
                      "Subject: long\r\nFrom: a@example.jp\r\n\r\n" + body);
    open(1);
    EXPECT_FALSE(paneText().contains(QStringLiteral("LAST LINE")));
    QLabel* note = ctl<QLabel>("lblTruncated");
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().contains(QStringLiteral("原文を開く")));
    const qint64 kept = storage::Originals(dir.appDir(), storage::HistoryKind::Received).TotalBytes();
    openMenu();
    EXPECT_TRUE(item("mgenbun")->isEnabled());
    EXPECT_FALSE(item("mhtml")->isEnabled()) << "no HTML part";
    EXPECT_FALSE(item("mtenpu")->isEnabled()) << "no attachment";
    EXPECT_EQ(item("myouryou")->text(), QStringLiteral("原文の容量: ") + history::original::sizeText(kept));

    emit note->linkActivated(QStringLiteral("original"));
    ASSERT_NE(originalView(), nullptr);
    const QString text = originalText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Subject: long\nFrom: a@example.jp\n\n")));
    EXPECT_TRUE(text.contains(QString::fromLatin1(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))));

    // Row 1 is short and has no original: the note goes, the items follow the row.
    clickRow(0);
    EXPECT_FALSE(note->isVisible());
    openMenu();
    EXPECT_FALSE(item("mgenbun")->isEnabled());
    clickRow(1);
    EXPECT_TRUE(note->isVisible());
    // Once the pane's text is edited it is no longer the record's body.
    pane()->insertPlainText(QStringLiteral("追記"));
    EXPECT_FALSE(note->isVisible());
}

TEST_F(HistoryOriginals, TheCharsetChoiceDecodesAgain)
{
    const QByteArray sjis = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x96\x7b\x95\xb6";
    storeWithOriginal(1, mail(QStringLiteral("s"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("?")),
                      "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n\r\n" + sjis);
    open(1);
    openMenu();
    item("mgenbun")->trigger();
    ASSERT_NE(originalView(), nullptr);
    QComboBox* charset = control<QComboBox>(originalView(), QStringLiteral("cboCharset"));
    EXPECT_EQ(charset->currentText(), QStringLiteral("自動"));
    EXPECT_TRUE(originalText().startsWith(QStringLiteral("Subject: 日本語\n")));
    EXPECT_FALSE(originalText().contains(QStringLiteral("日本語の本文")));
    charset->setCurrentIndex(charset->findText(QStringLiteral("Shift_JIS")));
    EXPECT_TRUE(originalText().endsWith(QStringLiteral("\n\n日本語の本文")));
    charset->setCurrentIndex(charset->findText(QStringLiteral("自動")));
    EXPECT_FALSE(originalText().contains(QStringLiteral("日本語の本文")));
}

TEST_F(HistoryOriginals, HtmlGoesToTheBrowserOwnerOnlyWithoutRemoteReferences)
{
    const QByteArray html = "<html><head><link rel=stylesheet href=\"https://css.example/s.css\"></head>"
                            "<body style=\"background:url('http://bg.example/b.png')\"><p>本文です</p>"
                            "<img SRC=http://tracker.example/pixel.gif><img src=\"cid:logo\">"
                            "<a href=\"https://link.example/page\">詳細</a></body></html>";
    storeWithOriginal(1, mail(QStringLiteral("h"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("plain text")),
                      messageWithParts(html, "PDF"));
    open(1);
    openMenu();
    ASSERT_TRUE(item("mhtml")->isEnabled());
    item("mhtml")->trigger();
    ASSERT_EQ(ui.openedUrls().size(), 1u);
    const QString path = ui.openedUrls().back().toLocalFile();
    const QFileInfo file(path);
    EXPECT_EQ(file.permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                                      QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(QFileInfo(file.absolutePath()).permissions() & others, QFile::Permissions());
    EXPECT_EQ(QFileInfo(QFileInfo(file.absolutePath()).absolutePath()).permissions() & others, QFile::Permissions());
    const QString copy = QString::fromUtf8(readAll(path));
    for (const char* remote : {"css.example", "bg.example", "tracker.example"})
        EXPECT_FALSE(copy.contains(QLatin1String(remote))) << remote;
    for (const char* kept : {"本文です", "cid:logo", "https://link.example/page"})
        EXPECT_TRUE(copy.contains(QString::fromUtf8(kept))) << kept;

    // Tags and url( without their ends are text, read once, not once per opener.
    const QString flood = QStringLiteral("<i>x</i>") + QStringLiteral("<b url(").repeated(100000);
    EXPECT_EQ(history::original::withoutRemoteReferences(flood), flood);
    EXPECT_EQ(history::original::withoutRemoteReferences(QStringLiteral("<meta http-equiv=Refresh content=\"0;url=http://r.example/\">"
                                                                        "<div style='x: url( \"data:a\" )'>")),
              QStringLiteral("<div style='x: url( \"data:a\" )'>"));

    // Asked for, the remote images come along; both copies go with the window.
    item("mhtmlgazou")->trigger();
    ASSERT_EQ(ui.openedUrls().size(), 2u);
    const QString withImages = ui.openedUrls().back().toLocalFile();
    EXPECT_TRUE(readAll(withImages).contains("http://tracker.example/pixel.gif"));
    app.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(withImages));
}

TEST_F(HistoryOriginals, AttachmentsAreListedOpenedSavedAndExtractedAgain)
{
    const QByteArray pdf = QByteArray("%PDF-1.4 ").repeated(300);
    storeWithOriginal(1, mail(QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("plain text")),
                      messageWithParts("<p>x</p>", pdf));
    open(1);
    openMenu();
    ASSERT_TRUE(item("mtenpu")->isEnabled());
    item("mtenpu")->trigger();
    auto* dialog = form->findChild<history::AttachmentsDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* list = control<QTreeWidget>(dialog, QStringLiteral("lstTenpu"));
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("report.pdf"));
    EXPECT_EQ(list->topLevelItem(0)->text(1), history::original::sizeText(pdf.size()));
    EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("evil.txt"));
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("7 B"));
    EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("なし"));

    // Gone from the folder: opened from a private copy, then written back on request.
    auto* extract = control<QPushButton>(dialog, QStringLiteral("cmdExtract"));
    list->setCurrentItem(list->topLevelItem(0));
    QTest::mouseClick(control<QPushButton>(dialog, QStringLiteral("cmdOpen")), Qt::LeftButton);
    ASSERT_EQ(ui.openedUrls().size(), 1u);
    EXPECT_EQ(readAll(ui.openedUrls().back().toLocalFile()), pdf);
    EXPECT_FALSE(ui.openedUrls().back().toLocalFile().startsWith(attachmentFolder()));
    ASSERT_TRUE(extract->isEnabled());
    QTest::mouseClick(extract, Qt::LeftButton);
    EXPECT_EQ(readAll(attachmentFolder() + QStringLiteral("/report.pdf")), pdf);
    EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("report.pdf"));
    EXPECT_FALSE(extract->isEnabled());
    QTest::mouseClick(control<QPushButton>(dialog, QStringLiteral("cmdOpen")), Qt::LeftButton);
    EXPECT_EQ(ui.openedUrls().back().toLocalFile(), attachmentFolder() + QStringLiteral("/report.pdf"));

    // The hostile name stays inside the folder; a different file of that name is not taken for it.
    dir.write(u"\\添付フォルダ\\evil.txt", "someone else's");
    list->setCurrentItem(list->topLevelItem(1));
    QTest::mouseClick(extract, Qt::LeftButton);
    EXPECT_EQ(readAll(attachmentFolder() + QStringLiteral("/evil (2).txt")), "hostile");
    EXPECT_EQ(list->topLevelItem(1)->text(2), QStringLiteral("evil (2).txt"));
    EXPECT_TRUE(QDir(attachmentFolder() + QStringLiteral("/../..")).entryList({QStringLiteral("evil*")}).isEmpty());

    const QString saved = dir.path(u"\\saved.txt");
    ui.queueFileName(saved);
    QTest::mouseClick(control<QPushButton>(dialog, QStringLiteral("cmdSave")), Qt::LeftButton);
    EXPECT_EQ(readAll(saved), "hostile");
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'|').toStdString();
}

TEST_F(HistoryOriginals, AReceivedMessageOpensWholeAndItsLostAttachmentIsWrittenAgain)
{
    QFile source(mailCorpusDir() + QStringLiteral("/16_mail_japanese_attachment.eml"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    ScriptedMailbox mailbox;
    mailbox.box.push_back({QStringLiteral("u1"), source.readAll()});
    RecordingReceiveHost host;
    dir.write(u"\\★MailData\\iniIdPass.ini", "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=1\r\n");
    const transport::ReceiveOutcome out =
        transport::ReceiveMail(dir.appDir(), {QStringLiteral("pop.example.jp"), 0}, mailbox, host);
    ASSERT_EQ(out.stored, 1) << int(out.end) << int(out.problem.problem);

    open(1);
    openMenu();
    ASSERT_TRUE(item("mgenbun")->isEnabled());
    item("mgenbun")->trigger();
    ASSERT_NE(originalView(), nullptr);
    EXPECT_TRUE(originalText().contains(QStringLiteral("\nFrom: Mikel Lindsaar <raasdnil@gmail.com>\n")));
    EXPECT_TRUE(originalText().contains(QStringLiteral("\n\ntesting\n")));

    const QString extracted = attachmentFolder() + QStringLiteral("/てすと.txt");
    const QByteArray content = readAll(extracted);
    ASSERT_FALSE(content.isEmpty());
    ASSERT_TRUE(QFile::remove(extracted));
    item("mtenpu")->trigger();
    auto* dialog = form->findChild<history::AttachmentsDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* list = control<QTreeWidget>(dialog, QStringLiteral("lstTenpu"));
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("てすと.txt"));
    EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("なし"));
    QTest::mouseClick(control<QPushButton>(dialog, QStringLiteral("cmdExtract")), Qt::LeftButton);
    EXPECT_EQ(readAll(extracted), content);
}

} // namespace
} // namespace corvidan::test
