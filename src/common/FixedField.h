#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace corvidan::common {

/// The text before the first NUL, or the whole text when it has none.
QString CutAtNul(const QString& text);

/// Fits `text` into a field of `width` bytes: at most `width` characters,
/// code page 932, never half a double-byte character (one that would straddle
/// the end is dropped), blank-padded to exactly `width` bytes.
QByteArray fitField(QStringView text, int width, int* replaced = nullptr);

/// Writes `fitField(text, width)` to `dst`.
void writeField(char* dst, QStringView text, int width, int* replaced = nullptr);

/// Decodes a stored field and cuts it at its first NUL; blanks are kept.
QString readField(const char* src, int width);

/// Nearest 16-bit integer, halves to the even neighbour; empty when out of range.
std::optional<std::int16_t> roundToInt16(double value);

/// Little-endian 16-bit field access.
inline std::int16_t readInt16LE(const char* p)
{
    return static_cast<std::int16_t>(static_cast<unsigned char>(p[0]) |
                                     (static_cast<unsigned char>(p[1]) << 8));
}
inline void writeInt16LE(char* p, std::int16_t v)
{
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>((static_cast<unsigned>(v) >> 8) & 0xFF);
}

} // namespace corvidan::common
