#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Corvidan"));
    label.setWindowTitle(QStringLiteral("Corvidan  Ver 1.25"));
    label.show();
    return app.exec();
}
