#pragma once

#include "ui/Twips.h"

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace corvidan::ui {

/// Shows a modeless window, or brings an already shown one to the front.
void bringUp(QWidget* window);

// Building a window from its design: every control is named and placed in twips.

/// A control of type T named `name` at (left, top), width x height twips.
template <class T>
T* make(QWidget* parent, const QString& name, int left, int top, int width, int height)
{
    auto* w = new T(parent);
    w->setObjectName(name);
    placeTw(w, left, top, width, height);
    return w;
}

template <class T>
T* make(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    return make<T>(parent, QString::fromLatin1(name), left, top, width, height);
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                    int width, int height);
QPushButton* button(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width, int height);
QLabel* label(QWidget* parent, const QString& name, const QString& caption, int left, int top,
              int width, int height);
QLabel* label(QWidget* parent, const char* name, const QString& caption, int left, int top,
              int width, int height);

/// The refusal shown instead of writing `text` into a code page 932 file that
/// cannot hold some of its characters: names each of them once (「¥」「😀」, an
/// invisible one by its code, 「U+200B」), at most ten then "など". Empty when the
/// code page holds all of `text`.
QString unsavableCharactersMessage(QStringView text);

} // namespace corvidan::ui
