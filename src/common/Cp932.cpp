#include "common/Cp932.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>

namespace corvidan::common::cp932 {

namespace {
constexpr const char* kCodec = "windows-31j";

char16_t microsoftFor(char16_t c)
{
    switch (c) {
    case 0x301C: return 0xFF5E; // WAVE DASH → FULLWIDTH TILDE
    case 0x2212: return 0xFF0D; // MINUS SIGN
    case 0x00A2: return 0xFFE0; // CENT SIGN
    case 0x00A3: return 0xFFE1; // POUND SIGN
    case 0x00AC: return 0xFFE2; // NOT SIGN
    case 0x2016: return 0x2225; // DOUBLE VERTICAL LINE
    case 0x2014: return 0x2015; // EM DASH
    default: return c;
    }
}

// The converter behind windows-31j is IBM-943, which exchanges three control codes
// with one another where Windows maps each to itself: a file would not read back.
bool hasExchangedControl(QByteArrayView bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char b) { return b == 0x1A || b == 0x1C || b == 0x7F; });
}

char windowsByteFor(char converted)
{
    switch (converted) {
    case 0x7F: return 0x1A;
    case 0x1A: return 0x1C;
    case 0x1C: return 0x7F;
    default: return converted;
    }
}

char converterByteFor(char windows)
{
    switch (windows) {
    case 0x1A: return 0x7F;
    case 0x1C: return 0x1A;
    case 0x7F: return 0x1C;
    default: return windows;
    }
}

/// Code page 932 keeps ASCII byte for byte (the three exchanged codes included, as
/// Windows maps them): most header fields need no converter at all.
bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char b) { return static_cast<unsigned char>(b) < 0x80; });
}

/// None of the three is ever a trail byte, so a byte-wise exchange is safe.
QByteArray exchanged(QByteArray bytes, char (*map)(char))
{
    if (hasExchangedControl(bytes))
        std::transform(bytes.begin(), bytes.end(), bytes.begin(), map);
    return bytes;
}
} // namespace

QString foldToMicrosoft(QStringView text)
{
    QString out(text.size(), Qt::Uninitialized);
    QChar* dst = out.data();
    for (qsizetype i = 0; i < text.size(); ++i)
        dst[i] = QChar(microsoftFor(text[i].unicode()));
    return out;
}

QByteArray encode(QStringView text, int* replaced)
{
    if (replaced)
        *replaced = 0;
    if (isAscii(text)) {
        QByteArray ascii(text.size(), Qt::Uninitialized);
        std::transform(text.begin(), text.end(), ascii.begin(), [](QChar c) { return char(c.unicode()); });
        return ascii;
    }
    const QString folded = foldToMicrosoft(text);
    // A fresh converter each time: Qt 6.4 keeps an ICU converter's error count
    // across resetState(), so a shared one would report errors that are not there.
    QStringEncoder whole(kCodec);
    QByteArray bytes = whole.encode(folded);
    if (!whole.hasError())
        return exchanged(std::move(bytes), windowsByteFor);

    // Rare path: find the characters the code page lacks, one code point at a time.
    QByteArray out;
    out.reserve(bytes.size());
    const QByteArray geta = QStringEncoder(kCodec).encode(QStringView(u"〓"));
    for (qsizetype i = 0; i < folded.size();) {
        const qsizetype len = (folded[i].isHighSurrogate() && i + 1 < folded.size()) ? 2 : 1;
        QStringEncoder one(kCodec);
        const QByteArray piece = one.encode(QStringView(folded).mid(i, len));
        if (one.hasError() || piece.isEmpty()) {
            out += geta;
            if (replaced)
                ++*replaced;
        } else {
            out += piece;
        }
        i += len;
    }
    return exchanged(std::move(out), windowsByteFor);
}

QStringList lacking(QStringView text)
{
    const QString folded = foldToMicrosoft(text);
    QStringEncoder whole(kCodec);
    // The encoder only runs when its result is taken.
    const QByteArray bytes = whole.encode(folded);
    if (!whole.hasError())
        return {};
    QStringList missing;
    for (qsizetype i = 0; i < folded.size();) {
        const qsizetype len = (folded[i].isHighSurrogate() && i + 1 < folded.size()) ? 2 : 1;
        const QStringView one = QStringView(folded).mid(i, len);
        QStringEncoder encoder(kCodec);
        const QByteArray piece = encoder.encode(one);
        if ((encoder.hasError() || piece.isEmpty()) && !missing.contains(one))
            missing.append(one.toString());
        i += len;
    }
    return missing;
}

QString decode(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(kCodec);
    if (hasExchangedControl(bytes))
        return decoder.decode(exchanged(bytes.toByteArray(), converterByteFor));
    return decoder.decode(bytes);
}

} // namespace corvidan::common::cp932
