#include "transport/Charset.h"

#include "common/Cp932.h"
#include "common/Text.h"

#include <QStringDecoder>
#include <optional>
#include <string>
#include <QStringEncoder>

namespace corvidan::transport::charset {

namespace {

constexpr char kEsc = 0x1B;

bool isAscii(QByteArrayView bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

/// The text, when the bytes are valid UTF-8: checked and decoded in one pass.
std::optional<QString> fromValidUtf8(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    // A leading byte order mark goes, as QString::fromUtf8 drops it.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isValidUtf8(QByteArrayView bytes) { return fromValidUtf8(bytes).has_value(); }

/// JIS X 0208 cell (both bytes 0x21..0x7E) to its Shift_JIS bytes.
void appendJisAsSjis(std::string& out, unsigned char j1, unsigned char j2)
{
    const int row = j1 - 0x21;
    const unsigned char s1 = static_cast<unsigned char>(row / 2 + (row < 62 ? 0x81 : 0xC1));
    unsigned char s2;
    if (row % 2 == 0)
        s2 = static_cast<unsigned char>(j2 + (j2 < 0x60 ? 0x1F : 0x20));
    else
        s2 = static_cast<unsigned char>(j2 + 0x7E);
    out.push_back(static_cast<char>(s1));
    out.push_back(static_cast<char>(s2));
}

/// Collects Shift_JIS bytes and flushes them as code page 932 text, so whole
/// runs are converted at once.
class Cp932Run {
public:
    // A byte at a time into a std::string: QByteArray's append is not inlined.
    explicit Cp932Run(QString& out, qsizetype expected) : m_out(out) { m_bytes.reserve(size_t(expected)); }
    ~Cp932Run() { flush(); }
    std::string& bytes() { return m_bytes; }
    void flush()
    {
        if (!m_bytes.empty())
            m_out += common::cp932::decode(QByteArrayView(m_bytes.data(), qsizetype(m_bytes.size())));
        m_bytes.clear();
    }

private:
    QString& m_out;
    std::string m_bytes;
};

/// JIS X 0212 has no code page 932 cells; ICU's EUC-JP table has them.
QString decodeJisX0212(unsigned char j1, unsigned char j2)
{
    const char euc[3] = {char(0x8F), char(j1 | 0x80), char(j2 | 0x80)};
    return QStringDecoder("EUC-JP").decode(QByteArrayView(euc, 3));
}

bool isInRange(unsigned char c, unsigned char lo, unsigned char hi) { return c >= lo && c <= hi; }

int japaneseScore(const QString& text)
{
    int score = 0;
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        if ((c >= 0x3040 && c <= 0x30FF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3000 && c <= 0x303F)
            || (c >= 0xFF01 && c <= 0xFF5E))
            score += 2;
        else if (c >= 0xFF61 && c <= 0xFF9F)
            score -= 1;
        else if (c == 0xFFFD || (c >= 0xE000 && c <= 0xF8FF))
            score -= 4;
    }
    return score;
}

bool isSjisValid(QByteArrayView b)
{
    for (qsizetype i = 0; i < b.size(); ++i) {
        const auto c = static_cast<unsigned char>(b[i]);
        if (c < 0x80 || isInRange(c, 0xA1, 0xDF))
            continue;
        if (!common::cp932::isLeadByte(c) || i + 1 >= b.size())
            return false;
        const auto t = static_cast<unsigned char>(b[++i]);
        if (!(isInRange(t, 0x40, 0x7E) || isInRange(t, 0x80, 0xFC)))
            return false;
    }
    return true;
}

bool isEucValid(QByteArrayView b)
{
    for (qsizetype i = 0; i < b.size(); ++i) {
        const auto c = static_cast<unsigned char>(b[i]);
        if (c < 0x80)
            continue;
        const int trail = c == 0x8F ? 2 : 1;
        if (!(c == 0x8E || c == 0x8F || isInRange(c, 0xA1, 0xFE)) || i + trail >= b.size())
            return false;
        for (int k = 1; k <= trail; ++k)
            if (!isInRange(static_cast<unsigned char>(b[i + k]), 0xA1, 0xFE))
                return false;
        i += trail;
    }
    return true;
}

const char16_t kWideKana[] = u"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜";

} // namespace

QByteArray canonicalName(QByteArrayView label)
{
    QByteArray name = label.toByteArray().trimmed().toLower();
    if (const qsizetype star = name.indexOf('*'); star >= 0)
        name.truncate(star);
    if (name.startsWith('"') && name.endsWith('"') && name.size() >= 2)
        name = name.mid(1, name.size() - 2);
    static const char* const sjis[] = {"shift_jis", "shift-jis", "sjis", "x-sjis", "ms_kanji", "csshiftjis",
                                       "cp932", "ms932", "windows-31j", "x-ms-cp932", "windows-932",
                                       "shift_jisx0213", "shift_jis-2004", "x-sjis-docomo", "x-sjis-kddi",
                                       "x-sjis-softbank", "sjis-win"};
    for (const char* alias : sjis)
        if (name == alias)
            return QByteArrayLiteral("windows-31j");
    if (name.startsWith("iso-2022-jp") || name == "csiso2022jp" || name == "jis" || name == "iso2022jp")
        return QByteArrayLiteral("iso-2022-jp");
    if (name == "euc-jp" || name == "eucjp" || name == "x-euc-jp" || name == "euc-jp-ms" || name == "eucjp-ms"
        || name == "cp51932" || name == "cseucpkdfmtjapanese" || name == "euc-jis-2004")
        return QByteArrayLiteral("euc-jp");
    if (name == "utf8" || name == "utf-8")
        return QByteArrayLiteral("utf-8");
    if (name == "ascii" || name == "us-ascii" || name == "ansi_x3.4-1968" || name == "us")
        return QByteArrayLiteral("us-ascii");
    return name;
}

QString decode(QByteArrayView bytes, QByteArrayView label)
{
    const QByteArray name = canonicalName(label);
    if (name == "windows-31j")
        return common::cp932::decode(bytes);
    if (name == "iso-2022-jp")
        return decodeIso2022Jp(bytes);
    if (name == "euc-jp")
        return decodeEucJp(bytes);
    if (name == "us-ascii" || name.isEmpty() || name == "unknown-8bit" || name == "x-unknown")
        return decodeGuessed(bytes); // unlabelled ISO-2022-JP is 7-bit too
    if (name == "utf-8") {
        std::optional<QString> text = fromValidUtf8(bytes);
        return text ? *std::move(text) : decodeGuessed(bytes);
    }
    if (name == "iso-8859-1" || name == "latin1")
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return decodeGuessed(bytes);
    return decoder.decode(bytes);
}

QByteArray guess(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return bytes.contains(kEsc) ? QByteArrayLiteral("iso-2022-jp") : QByteArrayLiteral("us-ascii");
    if (isValidUtf8(bytes))
        return QByteArrayLiteral("utf-8");
    const bool sjis = isSjisValid(bytes);
    const bool euc = isEucValid(bytes);
    if (sjis != euc)
        return sjis ? QByteArrayLiteral("windows-31j") : QByteArrayLiteral("euc-jp");
    if (japaneseScore(decodeEucJp(bytes)) > japaneseScore(common::cp932::decode(bytes)))
        return QByteArrayLiteral("euc-jp");
    return QByteArrayLiteral("windows-31j");
}

QString decodeGuessed(QByteArrayView bytes)
{
    if (!isAscii(bytes)) {
        if (std::optional<QString> text = fromValidUtf8(bytes))
            return *std::move(text);
    }
    const QByteArray name = guess(bytes);
    if (name == "us-ascii")
        return QString::fromLatin1(bytes);
    if (name == "utf-8")
        return QString::fromUtf8(bytes);
    return decode(bytes, name);
}

QString decodeFileName(QByteArrayView bytes)
{
    if (std::optional<QString> text = fromValidUtf8(bytes))
        return *std::move(text);
    if (isSjisValid(bytes))
        return common::cp932::decode(bytes);
    return QString::fromLatin1(bytes);
}

QString decodeIso2022Jp(QByteArrayView b)
{
    enum class Mode { Ascii, Kana, Jis0208, Jis0212 };
    Mode mode = Mode::Ascii;
    bool shiftedOut = false;
    QString out;
    out.reserve(b.size());
    Cp932Run run(out, b.size());
    for (qsizetype i = 0; i < b.size(); ++i) {
        const auto c = static_cast<unsigned char>(b[i]);
        if (c == 0x1B && i + 2 < b.size()) {
            const QByteArrayView seq = b.sliced(i + 1);
            // A redundant escape directly followed by another is harmless here.
            if (seq.startsWith("$B") || seq.startsWith("$@")) { mode = Mode::Jis0208; i += 2; continue; }
            if (seq.startsWith("(B") || seq.startsWith("(J") || seq.startsWith("(H")) { mode = Mode::Ascii; i += 2; continue; }
            if (seq.startsWith("(I")) { mode = Mode::Kana; i += 2; continue; }
            if (seq.startsWith("$(D") && i + 3 < b.size()) { mode = Mode::Jis0212; i += 3; continue; }
            if (seq.startsWith("$(B") || seq.startsWith("$(Q") || seq.startsWith("$(O")) {
                mode = Mode::Jis0208; i += 3; continue;
            }
            if (seq.startsWith("&@")) { i += 2; continue; }
        }
        if (c == 0x0E) { shiftedOut = true; continue; }
        if (c == 0x0F) { shiftedOut = false; continue; }
        if (c == '\n' || c == '\r') {
            // Lines must end in ASCII; senders that forget the escape get it reset here.
            mode = Mode::Ascii;
            shiftedOut = false;
        }
        const bool graphic = c >= 0x21 && c <= 0x7E;
        if (graphic && (shiftedOut || mode == Mode::Kana)) {
            run.bytes().push_back(static_cast<char>(c + 0x80));
        } else if (graphic && (mode == Mode::Jis0208 || mode == Mode::Jis0212)) {
            const auto c2 = i + 1 < b.size() ? static_cast<unsigned char>(b[i + 1]) : 0;
            if (c2 < 0x21 || c2 > 0x7E) {
                run.flush();
                out += QChar::ReplacementCharacter;
                continue;
            }
            ++i;
            if (mode == Mode::Jis0208) {
                appendJisAsSjis(run.bytes(), c, c2);
            } else {
                run.flush();
                out += decodeJisX0212(c, c2);
            }
        } else {
            // ASCII, and stray 8-bit bytes that are most likely Shift_JIS.
            run.bytes().push_back(static_cast<char>(c));
        }
    }
    run.flush();
    return out;
}

QString decodeEucJp(QByteArrayView b)
{
    QString out;
    out.reserve(b.size());
    Cp932Run run(out, b.size());
    for (qsizetype i = 0; i < b.size(); ++i) {
        const auto c = static_cast<unsigned char>(b[i]);
        const auto next = [&](qsizetype k) { return i + k < b.size() ? static_cast<unsigned char>(b[i + k]) : 0; };
        if (c < 0x80) {
            run.bytes().push_back(static_cast<char>(c));
        } else if (c == 0x8E && isInRange(next(1), 0xA1, 0xDF)) {
            run.bytes().push_back(static_cast<char>(next(1)));
            ++i;
        } else if (c == 0x8F && isInRange(next(1), 0xA1, 0xFE) && isInRange(next(2), 0xA1, 0xFE)) {
            run.flush();
            out += decodeJisX0212(next(1) & 0x7F, next(2) & 0x7F);
            i += 2;
        } else if (isInRange(c, 0xA1, 0xFE) && isInRange(next(1), 0xA1, 0xFE)) {
            appendJisAsSjis(run.bytes(), c & 0x7F, next(1) & 0x7F);
            ++i;
        } else {
            run.flush();
            out += QChar::ReplacementCharacter;
        }
    }
    run.flush();
    return out;
}

std::optional<QByteArray> encodeIso2022Jp(QStringView text)
{
    const QString folded = common::cp932::foldToMicrosoft(text);
    QByteArray out;
    out.reserve(folded.size() * 2);
    bool kanji = false;
    for (qsizetype i = 0; i < folded.size(); ++i) {
        const char16_t c = folded[i].unicode();
        if (c < 0x80) {
            if (c == 0x1B || c == 0x0E || c == 0x0F)
                return std::nullopt;
            if (kanji) {
                out += "\x1b(B";
                kanji = false;
            }
            out.append(static_cast<char>(c));
            continue;
        }
        if (QChar::isSurrogate(c))
            return std::nullopt;
        QStringEncoder encoder("windows-31j");
        const QByteArray sjis = encoder.encode(QStringView(&folded.constData()[i], 1));
        if (encoder.hasError() || sjis.size() != 2)
            return std::nullopt;
        const auto s1 = static_cast<unsigned char>(sjis[0]);
        const auto s2 = static_cast<unsigned char>(sjis[1]);
        int row = (s1 < 0xA0 ? s1 - 0x81 : s1 - 0xC1) * 2;
        unsigned char j2;
        if (s2 >= 0x9F) {
            ++row;
            j2 = static_cast<unsigned char>(s2 - 0x7E);
        } else {
            j2 = static_cast<unsigned char>(s2 - (s2 >= 0x80 ? 0x20 : 0x1F));
        }
        const int j1 = row + 0x21;
        // JIS X 0208 proper: rows 1-8 and 16-84; row 13 and 89-92 are Windows additions.
        if (!((j1 >= 0x21 && j1 <= 0x28) || (j1 >= 0x30 && j1 <= 0x74)))
            return std::nullopt;
        if (!kanji) {
            out += "\x1b$B";
            kanji = true;
        }
        out.append(static_cast<char>(j1));
        out.append(static_cast<char>(j2));
    }
    if (kanji)
        out += "\x1b(B";
    return out;
}

bool fitsIso2022Jp(QStringView text)
{
    return encodeIso2022Jp(text).has_value();
}

QString widenHalfWidthKana(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0xFF61 || c > 0xFF9F) {
            out += text[i];
            continue;
        }
        char16_t wide = kWideKana[c - 0xFF61];
        const char16_t mark = i + 1 < text.size() ? text[i + 1].unicode() : 0;
        const bool voicable = (wide >= u'カ' && wide <= u'ト' && wide != u'ッ') || (wide >= u'ハ' && wide <= u'ホ') || wide == u'ウ';
        if (mark == 0xFF9E && voicable) {
            wide = wide == u'ウ' ? u'ヴ' : static_cast<char16_t>(wide + 1);
            ++i;
        } else if (mark == 0xFF9F && wide >= u'ハ' && wide <= u'ホ') {
            wide = static_cast<char16_t>(wide + 2);
            ++i;
        }
        out += QChar(wide);
    }
    return out;
}

QString toCrLf(QStringView text)
{
    return common::text::toCrLf(text);
}

} // namespace corvidan::transport::charset
