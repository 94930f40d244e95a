// Hostile messages of 1 MB each through the one-pass parse and the attachment
// folder: the slowest shape is the figure. Each shape is checked for the right
// result too, so a fast wrong answer cannot pass as a figure.
#include "transport/Attachment.h"
#include "transport/Mime.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace mime = corvidan::transport::mime;
namespace attachment = corvidan::transport::attachment;

namespace {

constexpr qsizetype Size = 1024 * 1024;

QByteArray repeatedTo(const QByteArray& piece, qsizetype size)
{
    return piece.repeated(size / piece.size());
}

struct Shape {
    const char* name;
    QByteArray message;
    std::function<bool(const mime::Parsed&)> correct;
    bool withFolder = false;
    bool fullFolder = false;
};

std::vector<Shape> shapes()
{
    std::vector<Shape> out;
    out.push_back({"uuencode-begins-without-end",
                   "Subject: uu\r\n\r\n" + repeatedTo("begin 644 f.bin\r\n", Size),
                   [](const mime::Parsed& p) { return p.attachments.isEmpty() && p.body.startsWith(QStringLiteral("begin 644")); }});
    out.push_back({"encoded-word-flood-subject",
                   "Subject: " + repeatedTo("=?a?b?c ", Size) + "\r\n\r\nbody\r\n",
                   [](const mime::Parsed& p) { return p.subject.startsWith(QStringLiteral("=?a?b?c =?a?b?c")) && p.body == QStringLiteral("body\r\n"); }});
    out.push_back({"encoded-word-flood-filename",
                   "Subject: f\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                   "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\""
                       + repeatedTo("=?a?b?c ", Size) + "\"\r\n\r\nDATA\r\n--b--\r\n",
                   [](const mime::Parsed& p) { return p.attachments.size() == 1 && p.attachments[0].data.startsWith("DATA"); },
                   true});
    out.push_back({"script-flood-html",
                   "Subject: h\r\nMIME-Version: 1.0\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<p>hello</p>"
                       + repeatedTo("<script>", Size),
                   [](const mime::Parsed& p) { return p.body == QStringLiteral("hello"); }});
    QByteArray nested = "Subject: n\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n";
    int depth = 0;
    while (nested.size() < Size) {
        ++depth;
        nested += "--b" + QByteArray::number(depth - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b"
                  + QByteArray::number(depth) + "\"\r\n\r\n";
    }
    nested += "--b" + QByteArray::number(depth) + "\r\nContent-Type: text/plain\r\n\r\ndeep\r\n";
    // GMime stops following parts a few thousand levels down; what lies deeper is not shown, never mistaken.
    out.push_back({"deeply-nested-multipart", nested, [](const mime::Parsed& p) {
                       return (p.body.isEmpty() || p.body == QStringLiteral("deep\r\n")) && p.attachments.isEmpty();
                   }});
    QByteArray many = "Subject: m\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                      "--b\r\nContent-Type: text/plain\r\n\r\nfirst\r\n";
    while (many.size() < Size)
        many += "--b\r\nContent-Type: text/plain\r\n\r\nx\r\n";
    many += "--b--\r\n";
    out.push_back({"many-part-multipart", many, [](const mime::Parsed& p) { return p.body == QStringLiteral("first"); }});
    QByteArray images = "Subject: i\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
    for (int i = 0; i < 5000; ++i)
        images += "--b\r\nContent-Type: image/jpeg; name=\"image.jpg\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                  + QByteArray(90, 'x').toBase64() + "\r\n";
    images += "--b--\r\n";
    out.push_back({"5000-images-into-full-folder", images,
                   [](const mime::Parsed& p) { return p.attachments.size() == 5000; }, true, true});
    return out;
}

/// A folder already holding image.jpg, "image (2).jpg" … "image (9999).jpg".
void fillFolder(const QString& path)
{
    QDir().mkpath(path);
    for (int n = 1; n <= 9999; ++n) {
        QFile file(path + u'/' + (n == 1 ? QStringLiteral("image.jpg") : QStringLiteral("image (%1).jpg").arg(n)));
        if (!file.open(QIODevice::WriteOnly))
            std::fprintf(stderr, "cannot fill %s\n", qPrintable(path));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int repeat = std::max(1, qEnvironmentVariableIntValue("CORVIDAN_BENCH_REPEAT") ? qEnvironmentVariableIntValue("CORVIDAN_BENCH_REPEAT") : 3);
    QTemporaryDir work;
    double slowest = 0;
    for (const Shape& shape : shapes()) {
        std::vector<double> times;
        for (int r = 0; r < repeat; ++r) {
            const QString folderPath = work.filePath(QStringLiteral("%1-%2").arg(QLatin1String(shape.name)).arg(r));
            QDir().mkpath(folderPath);
            if (shape.fullFolder)
                fillFolder(folderPath);
            QElapsedTimer timer;
            timer.start();
            const mime::Parsed parsed = mime::parse(shape.message);
            int written = 0;
            if (shape.withFolder) {
                attachment::Folder folder(folderPath);
                for (const mime::Attachment& a : parsed.attachments)
                    written += folder.write(a.name, a.type, a.data).isEmpty() ? 0 : 1;
            }
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (!shape.correct(parsed) || written != (shape.withFolder ? int(parsed.attachments.size()) : 0)) {
                std::fprintf(stderr, "%s: wrong result (body \"%s\", %lld attachments, %d written)\n", shape.name,
                             qPrintable(parsed.body.left(60)), static_cast<long long>(parsed.attachments.size()), written);
                return 1;
            }
            QDir(folderPath).removeRecursively();
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        std::fprintf(stderr, "%s (%lld bytes): %.1f ms\n", shape.name, static_cast<long long>(shape.message.size()), median);
        slowest = std::max(slowest, median);
    }
    std::printf("receive_hostile_1mb_ms %.1f ms\n", slowest);
    return 0;
}
