#pragma once

#include "common/Status.h"

#include <QString>
#include <cstdint>

namespace corvidan::storage {

/// The four lines of "zorbet.ini".
struct ServerSettings {
    QString SmtpServer;
    QString Pop3Server;
    QString MailAddress;
    std::int16_t ApopFlag = 0;
};

/// Reads "zorbet.ini" into `settings`: five-character case-sensitive keys, the
/// last line of a key wins, values cut to 100 characters, nothing trimmed; lines
/// end at CR LF, LF or a lone CR; code page 932 or UTF-8 (SettingsEncodingOf).
/// A missing file leaves `settings` as it was.
void ReadServerSettings(const QString& path, ServerSettings& settings);

/// Replaces "zorbet.ini" with the four lines in code page 932, each ended by CR LF;
/// in marked UTF-8 when code page 932 would not read back as written.
common::Status WriteServerSettings(const QString& path, const ServerSettings& settings);

/// The "APOP=" value as a number: longest leading decimal number (leading blanks
/// skipped), nearest 16-bit integer with halves to even; 0 when there is none.
std::int16_t ParseApopValue(const QString& value);

} // namespace corvidan::storage
