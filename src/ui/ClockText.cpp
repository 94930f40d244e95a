#include "ui/ClockText.h"

namespace corvidan::ui {

namespace {

// Qt's long time formats carry the zone name ("t"), which a Windows long time
// never had; it is dropped together with the blanks that separated it.
QString withoutZone(const QString& format)
{
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        out += c;
    }
    return out.simplified();
}

bool hasSeconds(const QString& format)
{
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted && c == u's')
            return true;
    }
    return false;
}

} // namespace

QString clockText(const QDateTime& when, const QLocale& locale)
{
    QString timeFormat = withoutZone(locale.timeFormat(QLocale::LongFormat));
    if (!hasSeconds(timeFormat))
        timeFormat = QStringLiteral("HH:mm:ss");
    return locale.toString(when.date(), QLocale::ShortFormat) + QStringLiteral("  ") +
           locale.toString(when.time(), timeFormat);
}

} // namespace corvidan::ui
