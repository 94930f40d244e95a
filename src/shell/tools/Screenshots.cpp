// corvidan-screenshots [--out DIR] [--list] [NAME…]
// Renders windows to DIR/NAME.png (all scenes when no name is given), each over
// a fresh temporary AppDir, on whatever platform Qt runs (offscreen by default).

#include "shell/Application.h"
#include "shell/tools/Scenes.h"
#include "ui/Fonts.h"
#include "ui/UiSeam.h"

#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWidget>

using namespace corvidan;

namespace {

/// Answers every box without showing it: a screenshot run must never block.
class QuietUi final : public ui::UiSeam {
public:
    ui::MsgAnswer messageBox(QWidget*, const QString&, const QString&, ui::MsgButtons b,
                             ui::MsgIcon) override
    {
        return ui::isQuestion(b) ? ui::MsgAnswer::No : ui::MsgAnswer::Ok;
    }
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<ui::PrintChoice> choosePrinter(QWidget*, bool) override { return std::nullopt; }
    bool openUrl(const QUrl&) override { return false; }
};

void copyTree(const QString& from, const QString& to)
{
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + u'/' + QDir(from).relativeFilePath(src);
        if (it.fileInfo().isDir())
            QDir().mkpath(dst);
        else
            QFile::copy(src, dst);
    }
}

void layOutAppDir(const QString& root)
{
    copyTree(QStringLiteral(CORVIDAN_SOURCE_DIR "/assets/appdir"), root);
    for (const char* folder :
         {"★MAilData", "添付フォルダ", "背景画像", "新着画像", "顔文字データ", "■TextQuickSave"})
        QDir(root).mkpath(QString::fromUtf8(folder));
    QFile ini(root + QStringLiteral("/zorbet.ini"));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=taro@example.jp\r\nAPOP=1\r\n");
}

void settle(QWidget* window)
{
    // The pointer away from every window: no hover hint unless a scene asks for it.
    QCursor::setPos(-10000, -10000);
    window->show();
    const QDeadlineTimer deadline(150);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

/// The client area under a plain title bar carrying the window's caption.
QPixmap framed(QWidget* window)
{
    const QPixmap client = window->grab();
    const int bar = 26;
    QPixmap out(client.width() + 2, client.height() + bar + 1);
    out.fill(QColor(90, 96, 110));
    QPainter p(&out);
    QLinearGradient shade(0, 0, 0, bar);
    shade.setColorAt(0, QColor(232, 235, 242));
    shade.setColorAt(1, QColor(206, 211, 222));
    p.fillRect(QRect(1, 1, client.width(), bar - 1), shade);
    QFont font = QApplication::font();
    font.setPointSize(10);
    p.setFont(font);
    p.setPen(QColor(30, 32, 40));
    p.drawText(QRect(10, 1, client.width() - 20, bar - 1), Qt::AlignVCenter | Qt::AlignLeft,
               window->windowTitle());
    p.drawPixmap(1, bar, client);
    return out;
}

bool render(const screenshots::Scene& scene, const QString& outDir, QTextStream& log)
{
    QTemporaryDir root;
    layOutAppDir(root.path());
    QuietUi ui;
    shell::Application app(common::AppDir(root.path()), ui);
    screenshots::SceneContext ctx{app, root.path()};
    QWidget* window = scene.make(ctx);
    if (!window) {
        log << scene.name << ": no window\n";
        return false;
    }
    settle(window);
    const QString file = outDir + u'/' + QString::fromUtf8(scene.name) + QStringLiteral(".png");
    if (!framed(window).save(file)) {
        log << scene.name << ": cannot write " << file << "\n";
        return false;
    }
    log << file << "\n";
    app.forms().discardAll();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    ui::installJapaneseFonts();
    QTextStream log(stdout);

    QString outDir = QStringLiteral("docs/screenshots");
    QStringList wanted;
    const QStringList args = QApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--out") && i + 1 < args.size()) {
            outDir = args[++i];
        } else if (args[i] == QStringLiteral("--list")) {
            for (const auto& scene : screenshots::scenes())
                log << scene.name << "\t" << QString::fromUtf8(scene.description) << "\n";
            return 0;
        } else {
            wanted << args[i];
        }
    }
    QDir().mkpath(outDir);

    int failures = 0;
    int rendered = 0;
    QStringList unknown = wanted;
    for (const auto& scene : screenshots::scenes()) {
        const QString name = QString::fromUtf8(scene.name);
        if (!wanted.isEmpty() && !wanted.contains(name))
            continue;
        failures += render(scene, outDir, log) ? 0 : 1;
        ++rendered;
        unknown.removeAll(name);
    }
    for (const QString& name : unknown) {
        log << name << ": no such scene (see --list)\n";
        ++failures;
    }
    return failures == 0 && rendered > 0 ? 0 : 1;
}
