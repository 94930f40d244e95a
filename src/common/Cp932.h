#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvidan::common::cp932 {

/// Marks a character that code page 932 cannot hold (GETA MARK, the usual
/// Japanese stand-in), so a replacement is visible rather than silent.
inline constexpr char16_t Replacement = u'〓';

/// Text to code page 932 as Windows writes it. Characters with a Microsoft
/// counterpart (WAVE DASH → FULLWIDTH TILDE …) are folded first; anything else
/// outside the code page becomes `Replacement`. `replaced` counts those.
QByteArray encode(QStringView text, int* replaced = nullptr);

/// The characters of `text` that code page 932 cannot hold (after the folding
/// `encode` does), each once, in the order they first occur; a character outside
/// the Basic Multilingual Plane is one entry of two code units.
QStringList lacking(QStringView text);

/// Code page 932 bytes to text; invalid sequences become U+FFFD.
QString decode(QByteArrayView bytes);

/// Folds the JIS-style code points that code page 932 lacks to the ones it has.
QString foldToMicrosoft(QStringView text);

/// True when `byte` starts a double-byte character.
inline bool isLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

} // namespace corvidan::common::cp932
