#pragma once

#include "storage/MailRecord.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace corvidan::test {

inline QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

/// A distinct record for number `i`, with text that code page 932 holds exactly.
inline storage::MailRecord sampleRecord(int i)
{
    storage::MailRecord r;
    r.Subject = QStringLiteral("会議の件 ① ㈱ｶﾀｶﾅ～ #%1").arg(i);
    r.Date = QStringLiteral("2026/12/08 10:%1").arg(i % 60, 2, 10, QChar(u'0'));
    r.Address = QStringLiteral("user%1@example.jp").arg(i);
    r.Body =
        QStringLiteral("本文 %1 行目\r\nよろしくお願いします。\r\n").arg(i).repeated(1 + i % 7);
    return r;
}

/// Subjects of `records`, trimmed of the field's padding.
template <class Records> QStringList subjectsOf(const Records& records)
{
    QStringList out;
    for (const auto& r : records)
        out << r.Subject.trimmed();
    return out;
}

} // namespace corvidan::test
