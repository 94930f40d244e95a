#include "storage/FieldDecoder.h"

#include "common/Cp932.h"
#include "common/FixedField.h"

#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <array>
#include <memory>

namespace corvidan::storage::detail {

namespace {

constexpr char16_t kNone = 0xFFFF; // not a character of the table: ask the converter

struct Table {
    std::array<char16_t, 256> single{};
    std::array<char16_t, 65536> pair{};
};

bool isTrailByte(unsigned t)
{
    return (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC);
}

/// Every well-formed character decoded by the converter in one call; a pair it
/// does not take as exactly one character stays out of the table.
std::unique_ptr<Table> buildTable()
{
    auto table = std::make_unique<Table>();
    table->single.fill(kNone);
    table->pair.fill(kNone);
    for (unsigned b = 0; b < 256; ++b) {
        if (common::cp932::isLeadByte(static_cast<unsigned char>(b)))
            continue;
        const QString one = common::cp932::decode(QByteArray(1, char(b)));
        if (one.size() == 1 && one[0] != QChar::ReplacementCharacter && !one[0].isSurrogate())
            table->single[b] = one[0].unicode();
    }

    QByteArray pairs;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!common::cp932::isLeadByte(static_cast<unsigned char>(lead)))
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (!isTrailByte(trail))
                continue;
            const char triple[3] = {char(lead), char(trail), '\n'};
            pairs.append(triple, 3);
        }
    }
    const QString decoded = QStringDecoder("windows-31j").decode(pairs);
    const QStringList pieces = decoded.split(u'\n');
    if (pieces.size() != pairs.size() / 3 + 1)
        return table; // not one piece per pair: leave every pair to the converter
    qsizetype i = 0;
    for (qsizetype at = 0; at + 2 < pairs.size(); at += 3, ++i) {
        const QString& piece = pieces[i];
        if (piece.size() == 1 && piece[0] != QChar::ReplacementCharacter &&
            !piece[0].isSurrogate()) {
            const unsigned key = (static_cast<unsigned char>(pairs[at]) << 8) |
                                 static_cast<unsigned char>(pairs[at + 1]);
            table->pair[key] = piece[0].unicode();
        }
    }
    return table;
}

const Table& table()
{
    static const std::unique_ptr<Table> built = buildTable();
    return *built;
}

} // namespace

QString FieldDecoder::field(const char* bytes, int width) const
{
    const Table& t = table();
    // Most of a field is its blank padding: only what stands before it is decoded,
    // the blanks are put back after.
    int content = width;
    while (content > 0 && bytes[content - 1] == ' ')
        --content;
    // Dates and many addresses are plain ASCII: widen those in one go (a few
    // control bytes are not mapped to themselves and take the long way).
    int end = 0;
    for (unsigned char b; end < content && (b = static_cast<unsigned char>(bytes[end])) != 0 &&
                          b < 0x80 && t.single[b] == b;)
        ++end;
    if (end == content)
        return QString::fromLatin1(bytes, width);
    if (bytes[end] == 0)
        return QString::fromLatin1(bytes, end);

    QString out(width, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    for (int i = 0; i < end; ++i)
        dst[i] = static_cast<unsigned char>(bytes[i]);
    qsizetype n = end;
    for (int i = end; i < content; ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b == 0) {
            out.truncate(n);
            return out;
        }
        char16_t c = t.single[b];
        // A lead byte whose trail would be padding is no character of the table.
        if (c == kNone && common::cp932::isLeadByte(b) && i + 1 < content) {
            c = t.pair[(unsigned(b) << 8) | static_cast<unsigned char>(bytes[i + 1])];
            ++i;
        }
        if (c == kNone)
            return common::readField(bytes, width);
        dst[n++] = c;
    }
    std::fill(dst + n, dst + n + (width - content), u' ');
    out.truncate(n + (width - content));
    return out;
}

} // namespace corvidan::storage::detail
