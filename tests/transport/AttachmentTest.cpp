#include "support/TempAppDir.h"
#include "transport/Attachment.h"
#include "transport/Charset.h"
#include "transport/HeaderDecoder.h"
#include "transport/Mime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace attachment = corvidan::transport::attachment;
namespace mime = corvidan::transport::mime;

namespace {

QByteArray corpus(const char* name)
{
    QFile file(corvidan::test::mailCorpusDir() + u'/' + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(AttachmentName, NothingEscapesTheFolder)
{
    const QString bin = QStringLiteral(".bin");
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("../../etc/passwd"), bin), QStringLiteral("passwd"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("C:\\Windows\\evil.exe"), bin), QStringLiteral("evil.exe"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("/tmp/x.txt"), bin), QStringLiteral("x.txt"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral(".."), bin), QStringLiteral("attachment.bin"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("..\\"), bin), QStringLiteral("attachment.bin"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral(".hidden"), bin), QStringLiteral("hidden"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("name. . "), bin), QStringLiteral("name"));
    EXPECT_EQ(attachment::sanitizeFileName(QString(), QStringLiteral(".jpg")), QStringLiteral("attachment.jpg"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("a\x01" "b\tc?.txt"), bin), QStringLiteral("a_b_c_.txt"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("evil\u202Etxt.exe"), bin), QStringLiteral("evil_txt.exe"));
    for (const char* device : {"CON", "con.txt", "NUL", "aux.tar.gz", "COM1", "lpt9.doc"})
        EXPECT_TRUE(attachment::sanitizeFileName(QString::fromLatin1(device), bin).startsWith(u'_')) << device;
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("console.txt"), bin), QStringLiteral("console.txt"));
    EXPECT_EQ(attachment::sanitizeFileName(QStringLiteral("資料 (最終).pdf"), bin), QStringLiteral("資料 (最終).pdf"));
}

TEST(AttachmentName, LongNamesAreCutKeepingTheExtension)
{
    const QString name = attachment::sanitizeFileName(QStringLiteral("あ").repeated(300) + QStringLiteral(".pdf"),
                                                      QStringLiteral(".bin"));
    EXPECT_LE(name.toUtf8().size(), attachment::MaxNameBytes);
    EXPECT_TRUE(name.endsWith(QStringLiteral("あ.pdf")));
    const QString emoji = attachment::sanitizeFileName(QStringLiteral("😀").repeated(100), QStringLiteral(".bin"));
    EXPECT_LE(emoji.toUtf8().size(), attachment::MaxNameBytes);
    EXPECT_FALSE(emoji.back().isHighSurrogate());
    // A cut that lands on a blank or a dot must not leave it at the end.
    for (const QString& text : {QString(199, u'a') + QStringLiteral(" tail"), QString(199, u'a') + QStringLiteral(".x y"),
                                QString(150, u'a') + QStringLiteral(" ").repeated(100) + QStringLiteral(".pdf")}) {
        const QString cut = attachment::sanitizeFileName(text, QStringLiteral(".bin"));
        EXPECT_LE(cut.toUtf8().size(), attachment::MaxNameBytes);
        EXPECT_FALSE(cut.endsWith(u' ') || cut.endsWith(u'.') || cut.contains(QStringLiteral(" .pdf"))) << cut.toStdString();
    }
}

TEST(AttachmentFile, NeverOverwrites)
{
    QTemporaryDir dir;
    const QString first = attachment::writeNew(dir.path(), QStringLiteral("a.txt"), "one");
    const QString second = attachment::writeNew(dir.path(), QStringLiteral("a.txt"), "two");
    const QString third = attachment::writeNew(dir.path(), QStringLiteral("A.TXT"), "three");
    const QString bare = attachment::writeNew(dir.path(), QStringLiteral("README"), "");
    EXPECT_EQ(QFileInfo(first).fileName(), QStringLiteral("a.txt"));
    EXPECT_EQ(QFileInfo(second).fileName(), QStringLiteral("a (2).txt"));
    EXPECT_EQ(QFileInfo(third).fileName(), QStringLiteral("A (3).TXT"));
    EXPECT_EQ(QFileInfo(bare).fileName(), QStringLiteral("README"));
    EXPECT_EQ(readFile(first), "one");
    EXPECT_EQ(readFile(second), "two");
    EXPECT_EQ(readFile(third), "three");
    EXPECT_TRUE(attachment::writeNew(dir.path() + QStringLiteral("/missing"), QStringLiteral("x"), "x").isEmpty());
}

TEST(AttachmentFile, FolderArgumentMayEndInABackslash)
{
    QTemporaryDir dir;
    EXPECT_EQ(attachment::folderPath(dir.path() + u'\\'), dir.path());
    EXPECT_EQ(attachment::folderPath(dir.path() + u'/'), dir.path());
}

class MimeExtract : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
};

TEST_F(MimeExtract, JapaneseNamesFromQuotedWordsAndContinuations)
{
    const mime::Extraction quoted = mime::extract(corpus("16_mail_japanese_attachment.eml"), dir.path());
    EXPECT_EQ(quoted.result, mime::Done);
    EXPECT_TRUE(quoted.body.startsWith(QStringLiteral("testing\r\n\r\n-- \r\n")));
    ASSERT_EQ(files(), QStringList{QStringLiteral("てすと.txt")});
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("てすと.txt"))), QStringLiteral("this is a test\nこれわてすと").toUtf8());

    const mime::Extraction continued = mime::extract(corpus("15_mail_japanese_attachment_long_name.eml"), dir.path());
    EXPECT_EQ(continued.result, mime::Done);
    EXPECT_TRUE(files().contains(QStringLiteral("かきくけこ").repeated(5) + QStringLiteral(".txt"))) << files().join(u',').toStdString();

    // Raw 8-bit UTF-8 name.
    mime::extract(corpus("29_enmime_mime-bad-8bit-filename.eml"), dir.path());
    EXPECT_TRUE(files().contains(QStringLiteral("管理.doc"))) << files().join(u',').toStdString();
}

TEST_F(MimeExtract, BodyIsTheFirstPlainTextPartInItsCharset)
{
    const mime::Extraction jis = mime::extract(corpus("26_letters_japanese_multipart_mixed_iso-2022-jp_base64.eml"), dir.path());
    EXPECT_EQ(jis.result, mime::Done);
    EXPECT_FALSE(jis.body.isEmpty());
    EXPECT_FALSE(jis.body.contains(QChar::ReplacementCharacter));
    EXPECT_FALSE(jis.body.contains(QStringLiteral("Content-")));
    const QStringList attached = files();
    for (const char* name : {"attached-pdf-filename.pdf", "attached-pdf-without-disposition.pdf",
                             "attached-json-filename.json", "attached-text-plain-filename.txt",
                             "attached-text-html-filename.html"})
        EXPECT_TRUE(attached.contains(QLatin1String(name))) << name << " in " << attached.join(u',').toStdString();
    for (const char* name : {"23_letters_japanese_plaintext_euc-jp_qp.eml", "24_letters_japanese_plaintext_euc-jp_base64.eml",
                             "25_letters_japanese_plaintext_utf-8_qp.eml"}) {
        const mime::Extraction plain = mime::extract(corpus(name), dir.path());
        EXPECT_TRUE(plain.body.contains(QStringLiteral("色は匂えど"))) << name << plain.body.left(80).toStdString();
    }
    const QByteArray specials = "Subject: x\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n\x1b$B-!-j|r!A\x1b(B\n";
    EXPECT_EQ(mime::extract(specials, dir.path()).body, QStringLiteral("①㈱ⅱ～\r\n"));
    const QByteArray sjis = "Subject: x\r\nContent-Type: text/plain; charset=Shift_JIS\r\n"
                            "Content-Transfer-Encoding: base64\r\n\r\n" + QByteArray("\x87\x40\x87\x8a\xee\xf0\x81\x60").toBase64() + "\r\n";
    EXPECT_EQ(mime::extract(sjis, dir.path()).body, QStringLiteral("①㈱ⅱ～"));
    // Mail that declares the wrong charset reads right when the reader names the true one.
    const QByteArray mislabelled = "Subject: x\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n\r\n\x93\xfa\x96\x7b\r\n";
    EXPECT_NE(mime::parse(mislabelled).body, QStringLiteral("日本\r\n"));
    EXPECT_EQ(mime::parse(mislabelled, "Shift_JIS").body, QStringLiteral("日本\r\n"));
    EXPECT_EQ(mime::parse("Subject: x\r\n\r\n\xc6\xfc\xcb\xdc\r\n", "EUC-JP").body, QStringLiteral("日本\r\n"));
    EXPECT_EQ(files(), attached) << "a text body is no attachment";
}

TEST_F(MimeExtract, HtmlOnlyMessageGivesItsTextAndSavesTheImage)
{
    const mime::Extraction html = mime::extract(corpus("28_enmime_html-only-inline.eml"), dir.path());
    EXPECT_EQ(html.result, mime::Done);
    EXPECT_EQ(html.body, QStringLiteral("Test of HTML section"));
    const mime::Parsed parsed = mime::parse(corpus("28_enmime_html-only-inline.eml"));
    EXPECT_TRUE(parsed.html.contains(QStringLiteral("<html"), Qt::CaseInsensitive)) << parsed.html.left(80).toStdString();
    EXPECT_TRUE(mime::parse("Subject: p\r\n\r\nplain\r\n").html.isEmpty());
    EXPECT_EQ(files(), QStringList{QStringLiteral("favicon.png")});
    EXPECT_TRUE(readFile(dir.filePath(QStringLiteral("favicon.png"))).startsWith("\x89PNG"));
    EXPECT_EQ(mime::htmlToText(u"<p>a&amp;b</p><script>x()</script><br>&#x65E5;&#26412; &nbsp;<b>c</b>&bogus;"),
              QStringLiteral("a&b\r\n\r\n日本  c&bogus;"));
    // Link targets stay, unless the text already shows them.
    EXPECT_EQ(mime::htmlToText(u"<A HREF=\"https://e.example/a?b=1&amp;c=2\">詳細</a> / <a href='https://e.example/'>https://e.example/</a>"
                               u" / <a href=mailto:x@e.example>x@e.example</a> / <a href=\"#top\">上へ</a> / <a href=/i><img src=i.png></a>"),
              QStringLiteral("詳細 (https://e.example/a?b=1&c=2) / https://e.example/ / x@e.example / 上へ / /i"));
    EXPECT_EQ(mime::htmlToText(u"<head><title>t</title></head><style>p{}</style>x<!-- hidden -->y<SCRIPT type=a>if (a<b) z()</script >z"),
              QStringLiteral("xyz"));
}

TEST_F(MimeExtract, LonePartOfASplitMessageIsReported)
{
    const mime::Extraction part = mime::extract(corpus("31_mimekit_message-partial.0.eml"), dir.path());
    EXPECT_EQ(part.result, mime::PartsMissing);
    EXPECT_TRUE(files().isEmpty());
    const QByteArray whole = "Subject: whole\r\nContent-Type: message/partial; id=\"x@y\"; number=1; total=1\r\n\r\n"
                             "Subject: inner\r\nContent-Type: text/plain\r\n\r\nall here\r\n";
    const mime::Extraction single = mime::extract(whole, dir.path());
    EXPECT_EQ(single.result, mime::Done);
    EXPECT_EQ(single.body, QStringLiteral("all here\r\n"));
}

TEST_F(MimeExtract, UnwritableFolderGivesMinusFive)
{
    const mime::Extraction failed = mime::extract(corpus("16_mail_japanese_attachment.eml"), dir.filePath(QStringLiteral("gone")));
    EXPECT_EQ(failed.result, mime::FileNotCreated);
    EXPECT_TRUE(failed.body.startsWith(QStringLiteral("testing")));
    EXPECT_FALSE(failed.error.isEmpty());
}

TEST_F(MimeExtract, UuencodedFilesAreExtracted)
{
    const mime::Extraction uu = mime::extract(corpus("37_hunnysoft_m0018_inline-uuencode.eml"), dir.path());
    EXPECT_EQ(uu.result, mime::Done);
    EXPECT_TRUE(files().contains(QStringLiteral("blueball.png"))) << files().join(u',').toStdString();
    EXPECT_TRUE(readFile(dir.filePath(QStringLiteral("blueball.png"))).startsWith("\x89PNG"));
    EXPECT_FALSE(uu.body.contains(QStringLiteral("begin 666")));
}

TEST(MimeParse, OnePassGivesFieldsBodyAndAttachmentsWithoutWriting)
{
    const QByteArray raw = corpus("16_mail_japanese_attachment.eml");
    const mime::Parsed parsed = mime::parse(raw);
    EXPECT_EQ(parsed.subject, QStringLiteral("testing"));
    EXPECT_TRUE(parsed.from.contains(QStringLiteral("Mikel Lindsaar"))) << parsed.from.toStdString();
    EXPECT_EQ(parsed.date, QStringLiteral("Fri, 16 Oct 2009 23:39:34 +1100"));
    // The header block as it came, with CR LF line ends and one more CR LF.
    EXPECT_EQ(parsed.header, corvidan::transport::charset::toCrLf(QString::fromLatin1(corvidan::transport::header::headerBlock(raw))) +
                                 QStringLiteral("\r\n"));
    EXPECT_TRUE(parsed.header.contains(QStringLiteral("\r\nSubject: testing\r\n")));
    EXPECT_TRUE(parsed.body.startsWith(QStringLiteral("testing\r\n")));
    ASSERT_EQ(parsed.attachments.size(), 1);
    EXPECT_EQ(parsed.attachments[0].name, QStringLiteral("てすと.txt"));
    EXPECT_EQ(parsed.attachments[0].type, "text/plain");
    EXPECT_EQ(parsed.attachments[0].data, QStringLiteral("this is a test\nこれわてすと").toUtf8());
    EXPECT_FALSE(parsed.fragment.has_value());

    // The name stays as the sender wrote it; making it safe is the folder's business.
    const QByteArray hostile = "Subject: x\r\nMIME-Version: 1.0\r\nContent-Type: application/octet-stream; name=\"../../a.bin\"\r\n\r\nDATA";
    const mime::Parsed unsafe = mime::parse(hostile);
    ASSERT_EQ(unsafe.attachments.size(), 1);
    EXPECT_EQ(unsafe.attachments[0].name, QStringLiteral("../../a.bin"));
    EXPECT_EQ(unsafe.attachments[0].data, "DATA");
}

TEST(MimeParse, AttachedMessageKeepsItsOriginalBytes)
{
    // Folding, letter case and spacing that a re-serialisation would tidy up.
    const QByteArray inner = "subject:   odd  spacing\r\n\tfolded on\r\nfrom: a@example.com\r\nX-Empty:\r\n\r\n"
                             "Body line one\r\n\r\nline three, no final line end";
    const QByteArray message = "Subject: outer\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                               "--b1\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
                               "--b1\r\nContent-Type: message/rfc822\r\n\r\n" + inner + "\r\n--b1--\r\n";
    const mime::Parsed parsed = mime::parse(message);
    EXPECT_EQ(parsed.body, QStringLiteral("see attached"));
    ASSERT_EQ(parsed.attachments.size(), 1);
    EXPECT_EQ(parsed.attachments[0].type, "message/rfc822");
    EXPECT_EQ(parsed.attachments[0].data, inner);
    EXPECT_EQ(parsed.attachments[0].name, QStringLiteral("odd  spacing folded on"));

    const QByteArray carried = corpus("06_jpmobile_pc-mail-multi.eml");
    const mime::Parsed pc = mime::parse(carried);
    ASSERT_EQ(pc.attachments.size(), 1);
    EXPECT_TRUE(carried.contains(pc.attachments[0].data)) << "not the bytes as sent";
    EXPECT_TRUE(pc.attachments[0].data.contains("Subject: =?ISO-2022-JP?B?"));
}

TEST(MimeParse, SplitMessageIsJoinedOrNamedAsAPiece)
{
    const QByteArray first = corpus("31_mimekit_message-partial.0.eml");
    const QByteArray second = corpus("32_mimekit_message-partial.1.eml");
    const QByteArray third = corpus("33_mimekit_message-partial.2.eml");
    const mime::Parsed lone = mime::parse(second);
    ASSERT_TRUE(lone.fragment.has_value());
    EXPECT_EQ(lone.fragment->id, "6MCVORPHW0U4.BCPTXD0EM9BT3@mit.edu");
    EXPECT_EQ(lone.fragment->number, 2);
    EXPECT_EQ(lone.fragment->total, 3);
    EXPECT_EQ(lone.body, QStringLiteral("（分割されたメールの 2/3 番目の部分です。残りの部分が揃っていないため、本文を表示できません。）"));
    EXPECT_TRUE(lone.attachments.isEmpty());
    EXPECT_EQ(lone.subject, QStringLiteral("Photo of a girl with feather earrings"));

    EXPECT_FALSE(mime::joinFragments({first, third}).has_value());
    EXPECT_FALSE(mime::joinFragments({first, second, second}).has_value()) << "a repeated piece is not the missing one";
    EXPECT_FALSE(mime::joinFragments({first, second, corpus("16_mail_japanese_attachment.eml")}).has_value());
    const std::optional<QByteArray> whole = mime::joinFragments({third, first, second});
    ASSERT_TRUE(whole.has_value());
    // The enclosing header of the first piece, then the enclosed message's own fields.
    EXPECT_TRUE(whole->startsWith("From: anonymous@mit.edu")) << whole->left(200).toStdString();
    EXPECT_LT(whole->indexOf("To: photo-discuss"), whole->indexOf("Subject: Photo"));
    EXPECT_TRUE(whole->contains("Message-Id: <6MCVORPHW0U4.BCPTXD0EM9BT3@mit.edu>"));
    EXPECT_FALSE(whole->contains("message/partial"));
    const mime::Parsed joined = mime::parse(*whole);
    EXPECT_FALSE(joined.fragment.has_value());
    EXPECT_TRUE(joined.body.contains(QStringLiteral("earrings were really cool looking"))) << joined.body.toStdString();
    ASSERT_EQ(joined.attachments.size(), 1);
    EXPECT_EQ(joined.attachments[0].name, QStringLiteral("earrings.jpg"));
    EXPECT_TRUE(joined.attachments[0].data.startsWith("\xFF\xD8\xFF"));
    EXPECT_TRUE(joined.attachments[0].data.endsWith("\xFF\xD9"));
}

TEST(MimeParse, HostileAndBrokenShapesGiveTheRightText)
{
    static constexpr int Many = 30000;
    const QByteArray flood = QByteArray("=?a?b?c ").repeated(Many);
    QByteArray nested = "Subject: n\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n";
    for (int depth = 1; depth <= 3000; ++depth)
        nested += "--b" + QByteArray::number(depth - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
                  QByteArray::number(depth) + "\"\r\n\r\n";
    const QByteArray nul = QByteArrayLiteral("Subject: Before\0After\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                   "--b\r\nContent-Type: text/plain; charset=utf-8\r\nX-Odd: a\0b\r\n\r\nbody text\r\n"
                   "--b\r\nContent-Type: application/pdf; name=\"a\0b.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                   "UERGREFUQQ==\r\n--b--\r\n");
    struct Row {
        const char* what;
        QByteArray message;
        std::function<void(const mime::Parsed&)> check;
    };
    const Row rows[] = {
        {"uuencode begins without end", "Subject: uu\r\n\r\n" + QByteArray("begin 644 f.bin\r\n").repeated(Many),
         [](const mime::Parsed& p) {
             EXPECT_TRUE(p.attachments.isEmpty());
             EXPECT_EQ(p.body.count(QStringLiteral("begin 644 f.bin\r\n")), Many);
         }},
        {"encoded-word flood in the subject", "Subject: " + flood + "\r\n\r\nbody\r\n",
         [&](const mime::Parsed& p) {
             EXPECT_EQ(p.subject, QString::fromLatin1(flood).trimmed());
             EXPECT_EQ(p.body, QStringLiteral("body\r\n"));
         }},
        {"encoded-word flood in a file name",
         "Subject: f\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
         "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" + flood +
             "x.bin\"\r\n\r\nDATA\r\n--b--\r\n",
         [](const mime::Parsed& p) {
             ASSERT_EQ(p.attachments.size(), 1);
             EXPECT_TRUE(p.attachments[0].name.endsWith(QStringLiteral("=?a?b?c x.bin")));
             EXPECT_EQ(p.attachments[0].data, "DATA");
         }},
        {"script flood in an HTML-only mail",
         "Subject: h\r\nMIME-Version: 1.0\r\nContent-Type: text/html\r\n\r\n<p>hello</p>" + QByteArray("<script>").repeated(Many),
         [](const mime::Parsed& p) { EXPECT_EQ(p.body, QStringLiteral("hello")); }},
        {"unclosed comments and lone brackets",
         "Subject: h\r\nMIME-Version: 1.0\r\nContent-Type: text/html\r\n\r\n<b>a</b>" + QByteArray("<!--<").repeated(Many),
         [](const mime::Parsed& p) {
             EXPECT_TRUE(p.body.startsWith(QStringLiteral("a<!--<<!--<"))) << p.body.left(20).toStdString();
             EXPECT_EQ(p.body.size(), 1 + 5 * Many);
         }},
        {"multiparts nested thousands deep", nested + "--b3000\r\nContent-Type: text/plain\r\n\r\ndeep\r\n",
         [](const mime::Parsed& p) {
             EXPECT_TRUE(p.attachments.isEmpty());
             EXPECT_TRUE(p.body.isEmpty() || p.body == QStringLiteral("deep\r\n")) << p.body.left(80).toStdString();
         }},
        {"NULs in the message's and a part's header", nul,
         [](const mime::Parsed& p) {
             EXPECT_EQ(p.subject, QStringLiteral("BeforeAfter"));
             EXPECT_FALSE(p.header.contains(QChar(u'\0')));
             EXPECT_EQ(p.body, QStringLiteral("body text"));
             ASSERT_EQ(p.attachments.size(), 1);
             EXPECT_EQ(p.attachments[0].name, QStringLiteral("a b.pdf"));
             EXPECT_EQ(p.attachments[0].data, "PDFDATA");
         }},
        {"binary content keeps its NULs",
         QByteArrayLiteral("Subject: b\r\nMIME-Version: 1.0\r\nContent-Type: application/octet-stream; name=z.bin\r\n"
                           "Content-Transfer-Encoding: binary\r\n\r\nA\0B\0C"),
         [](const mime::Parsed& p) {
             ASSERT_EQ(p.attachments.size(), 1);
             EXPECT_EQ(p.attachments[0].data, QByteArray("A\0B\0C", 5));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.check(mime::parse(row.message));
    }
}

TEST(AttachmentFolder, ListsOnceAndNeverRunsOutOfNames)
{
    QTemporaryDir dir;
    for (int n = 1; n <= 300; ++n) {
        QFile taken(dir.filePath(n == 1 ? QStringLiteral("image.jpg") : QStringLiteral("image (%1).jpg").arg(n)));
        ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    }
    attachment::Folder folder(dir.path() + u'\\');
    const QString first = folder.write(QStringLiteral("image.jpg"), "image/jpeg", "one");
    const QString second = folder.write(QStringLiteral("IMAGE.JPG"), "image/jpeg", "two");
    EXPECT_EQ(first, dir.filePath(QStringLiteral("image (301).jpg")));
    EXPECT_EQ(second, dir.filePath(QStringLiteral("IMAGE (302).JPG")));
    EXPECT_EQ(readFile(first), "one");
    EXPECT_EQ(readFile(second), "two");
    // A file made behind the folder's back after the listing is still never replaced.
    QFile sneaky(dir.filePath(QStringLiteral("new.txt")));
    ASSERT_TRUE(sneaky.open(QIODevice::WriteOnly));
    sneaky.write("theirs");
    sneaky.close();
    EXPECT_EQ(folder.write(QStringLiteral("new.txt"), "text/plain", "ours"), dir.filePath(QStringLiteral("new (2).txt")));
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("new.txt"))), "theirs");
    EXPECT_EQ(QFileInfo(folder.write(QStringLiteral("../x.pdf"), "application/pdf", "x")).fileName(), QStringLiteral("x.pdf"));
    EXPECT_EQ(QFileInfo(folder.write(QString(), "message/rfc822", "M")).fileName(), QStringLiteral("message.eml"));
    EXPECT_EQ(QFileInfo(folder.write(QStringLiteral("会議"), "message/rfc822", "M")).fileName(), QStringLiteral("会議.eml"));
    EXPECT_TRUE(folder.sync());
    EXPECT_TRUE(folder.error().isEmpty());

    attachment::Folder gone(dir.filePath(QStringLiteral("missing")));
    EXPECT_TRUE(gone.write(QStringLiteral("a.txt"), "text/plain", "x").isEmpty());
    EXPECT_FALSE(gone.error().isEmpty());
}

TEST_F(MimeExtract, TortureTestDoesNotBreakAnything)
{
    const mime::Extraction torture = mime::extract(corpus("35_flanker_torture.eml"), dir.path());
    EXPECT_EQ(torture.result, mime::Done);
    for (const QString& name : files()) {
        EXPECT_FALSE(name.contains(u'/'));
        EXPECT_FALSE(name.startsWith(u'.'));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 0);
}

} // namespace
