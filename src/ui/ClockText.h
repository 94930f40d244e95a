#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace corvidan::ui {

/// The launcher's clock text, which also dates sent mail: the locale's short
/// date, two blanks, and its long time (hours, minutes, seconds; no time zone).
QString clockText(const QDateTime& when, const QLocale& locale = QLocale::system());

} // namespace corvidan::ui
