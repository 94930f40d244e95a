#include "common/FixedField.h"

#include "common/Cp932.h"

#include <cfenv>
#include <cmath>
#include <cstring>

namespace corvidan::common {

QString CutAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QByteArray fitField(QStringView text, int width, int* replaced)
{
    QByteArray bytes = cp932::encode(text.left(width), replaced);
    if (bytes.size() > width) {
        // Walk whole characters so a double-byte one never straddles the end.
        qsizetype keep = 0;
        while (keep < bytes.size()) {
            const qsizetype step = cp932::isLeadByte(static_cast<unsigned char>(bytes[keep])) ? 2 : 1;
            if (keep + step > width)
                break;
            keep += step;
        }
        bytes.truncate(keep);
    }
    if (bytes.size() < width)
        bytes.append(width - bytes.size(), ' ');
    return bytes;
}

void writeField(char* dst, QStringView text, int width, int* replaced)
{
    const QByteArray bytes = fitField(text, width, replaced);
    std::memcpy(dst, bytes.constData(), static_cast<size_t>(width));
}

QString readField(const char* src, int width)
{
    return CutAtNul(cp932::decode(QByteArrayView(src, width)));
}

std::optional<std::int16_t> roundToInt16(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(saved);
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

} // namespace corvidan::common
