#include "ui/Widgets.h"

namespace corvidan::ui {

void bringUp(QWidget* window)
{
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                    int width, int height)
{
    auto* b = make<QPushButton>(parent, name, left, top, width, height);
    b->setText(caption);
    return b;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width, int height)
{
    return button(parent, QString::fromLatin1(name), caption, left, top, width, height);
}

QLabel* label(QWidget* parent, const QString& name, const QString& caption, int left, int top,
              int width, int height)
{
    auto* l = make<QLabel>(parent, name, left, top, width, height);
    l->setText(caption);
    return l;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, int left, int top,
              int width, int height)
{
    return label(parent, QString::fromLatin1(name), caption, left, top, width, height);
}

} // namespace corvidan::ui
