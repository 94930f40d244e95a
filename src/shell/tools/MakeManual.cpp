// Builds the manual the HomePage label opens: README.md as one HTML page,
// with the pictures it shows copied beside it under the same relative paths.
// usage: corvidan-make-manual README.md OUTPUT_DIR
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QSaveFile>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {

void fail(const QString& text)
{
    std::fprintf(stderr, "corvidan-make-manual: %s\n", text.toLocal8Bit().constData());
    std::exit(1);
}

/// The anchor a heading gets on the code hosting sites, so the README's own
/// "#…" links land on the same heading in the manual.
QString headingSlug(const QString& heading)
{
    QString slug;
    for (const QChar c : heading.toLower()) {
        if (c.isLetterOrNumber() || c == u'-' || c == u'_')
            slug += c;
        else if (c == u' ')
            slug += u'-';
    }
    return slug;
}

void anchorHeadings(QTextDocument& doc)
{
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0 || block.text().isEmpty())
            continue;
        QTextCursor cursor(block);
        cursor.setPosition(block.position());
        cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        QTextCharFormat anchor;
        anchor.setAnchor(true);
        anchor.setAnchorNames({headingSlug(block.text())});
        cursor.mergeCharFormat(anchor);
    }
}

/// Relative paths of the pictures the document shows; anything that could
/// leave the checkout (absolute, "..", a URL) is not a picture of ours.
QSet<QString> localImages(const QTextDocument& doc)
{
    QSet<QString> images;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QString name = format.toImageFormat().name();
            const QString clean = QDir::cleanPath(name);
            if (QUrl(name).scheme().isEmpty() && QDir::isRelativePath(clean) &&
                !clean.startsWith(QLatin1String("..")))
                images.insert(clean);
        }
    }
    return images;
}

void copyImage(const QDir& from, const QDir& to, const QString& relative)
{
    const QString target = to.filePath(relative);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    if (!QFile::copy(from.filePath(relative), target))
        fail(QStringLiteral("cannot copy the picture ") + relative);
}

QString page(const QTextDocument& doc)
{
    QString html = doc.toHtml();
    // A browser shows the title in its tab; toHtml writes none.
    html.replace(QStringLiteral("<head>"), QStringLiteral("<head><title>Corvidan</title>"));
    return html;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        fail(QStringLiteral("usage: corvidan-make-manual README.md OUTPUT_DIR"));

    QFile readme(args[1]);
    if (!readme.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read ") + args[1]);
    QTextDocument doc;
    doc.setDefaultFont(QFont(QStringLiteral("sans-serif"), 11));
    doc.setMarkdown(QString::fromUtf8(readme.readAll()));
    anchorHeadings(doc);

    const QDir source = QFileInfo(args[1]).absoluteDir();
    const QDir output(args[2]);
    if (!QDir().mkpath(output.absolutePath()))
        fail(QStringLiteral("cannot make ") + args[2]);
    for (const QString& image : localImages(doc))
        copyImage(source, output, image);

    QSaveFile html(output.filePath(QStringLiteral("index.html")));
    if (!html.open(QIODevice::WriteOnly) || html.write(page(doc).toUtf8()) < 0 || !html.commit())
        fail(QStringLiteral("cannot write ") + html.fileName());
    return 0;
}
