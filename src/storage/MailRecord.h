#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace corvidan::storage {

/// One message of a mail history as stored: 32284 bytes, fields blank-padded
/// code page 932, CR LF, then the live flag (little-endian 16-bit).
struct MailRecord {
    static constexpr int Size = 32284;
    static constexpr int SubjectOffset = 0, SubjectWidth = 100;
    static constexpr int DateOffset = 100, DateWidth = 90;
    static constexpr int AddressOffset = 190, AddressWidth = 90;
    static constexpr int BodyOffset = 280, BodyWidth = 32000;
    static constexpr int LineEndOffset = 32280;
    static constexpr int LiveOffset = 32282;
    static constexpr int HeaderBytes = 280;

    QString Subject;
    QString Date;
    QString Address;
    QString Body;
    std::int16_t Live = 1;

    /// The on-disk form; `replaced` counts characters code page 932 could not hold.
    QByteArray toBytes(int* replaced = nullptr) const;
    /// Decodes a whole record; text fields are cut at their first NUL, blanks kept.
    static MailRecord fromBytes(const char* record);
};

/// The three header fields of a record, enough to list it.
struct MailHeader {
    QString Subject;
    QString Date;
    QString Address;
    static MailHeader fromBytes(const char* headerBytes);
};

} // namespace corvidan::storage
