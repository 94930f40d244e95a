// The account file of arbitrary bytes: reading a key never fails, and writing a
// key changes that key only, keeping every other line as it was.
#include "FuzzSupport.h"

#include "common/Cp932.h"
#include "storage/ProfileFile.h"

#include <QFile>
#include <QStringDecoder>
#include <fuzzer/FuzzedDataProvider.h>

using namespace corvidan;
using corvidan::fuzz::visible;

namespace {

const QString kSection = QStringLiteral("EXEINI");
const QStringList kKeys = {QStringLiteral("NAME"), QStringLiteral("NAME2"), QStringLiteral("NAME3")};

QList<QByteArray> linesOf(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        if (end < bytes.size())
            end += bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? 2 : 1;
        lines << bytes.mid(start, end - start);
        start = end;
    }
    return lines;
}

QByteArray withoutEnd(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

/// A line the write may add or replace: the key's own line or the section header.
bool isWrittenLine(const QByteArray& line, const QString& key, bool utf8)
{
    const QByteArray text = withoutEnd(line);
    const qsizetype eq = text.indexOf('=');
    // Blanks around a key are no part of it, and go before decoding: a lead byte
    // at the key's end pairs with a blank otherwise.
    QByteArray keyBytes = eq < 0 ? text : text.left(eq);
    while (keyBytes.endsWith(' ') || keyBytes.endsWith('\t'))
        keyBytes.chop(1);
    while (keyBytes.startsWith(' ') || keyBytes.startsWith('\t'))
        keyBytes.remove(0, 1);
    QString name = utf8 ? QString::fromUtf8(keyBytes) : common::cp932::decode(keyBytes);
    if (name.startsWith(QChar(0xFEFF)))
        name.remove(0, 1);
    name = name.trimmed();
    return name.compare(key, Qt::CaseInsensitive) == 0 || text.trimmed() == "[EXEINI]";
}

bool hasEnd(const QByteArray& line)
{
    return line.endsWith('\n') || line.endsWith('\r');
}

/// Every line of `before` is in `after` in the same order; only the key's line
/// may be replaced, lines may be added, and an unended last line may gain its end.
void checkLinesKept(const QByteArray& before, const QByteArray& after, const QString& key)
{
    const bool utf8 = storage::SettingsEncodingOf(before) != storage::SettingsEncoding::Cp932;
    const QList<QByteArray> old = linesOf(before);
    const QList<QByteArray> now = linesOf(after);
    qsizetype i = 0, j = 0;
    while (i < old.size() && j < now.size()) {
        const bool lastUnended = i == old.size() - 1 && !hasEnd(old[i]);
        if (old[i] == now[j] || (lastUnended && withoutEnd(now[j]) == old[i] && now[j] != old[i])) {
            ++i, ++j;
        } else if (isWrittenLine(now[j], key, utf8)) {
            if (isWrittenLine(old[i], key, utf8))
                ++i; // replaced
            ++j;
        } else {
            fuzz::fail("a line was lost or changed",
                       QStringLiteral("line %1: ").arg(i + 1) + visible(QString::fromLatin1(old[i])));
        }
    }
    FUZZ_CHECK(i == old.size(), QStringLiteral("lines dropped from %1 on").arg(i + 1));
    for (; j < now.size(); ++j)
        FUZZ_CHECK(isWrittenLine(now[j], key, utf8), visible(QString::fromLatin1(now[j])));
}

/// The value as a reader gets it back: one line, through the file's encoding, at
/// most 255 bytes in code page 932.
QString expectedValue(const QString& value, bool utf8)
{
    if (utf8) {
        qsizetype bytes = 0, i = 0;
        for (; i < value.size(); ++i) {
            const qsizetype len = value[i].isHighSurrogate() && i + 1 < value.size() ? 2 : 1;
            bytes += common::cp932::encode(QStringView(value).mid(i, len)).size();
            if (bytes > 255)
                break;
            i += len - 1;
        }
        // Through UTF-8 and back, as the file holds it; a leading U+FEFF is a
        // character of the value there, not a byte order mark.
        return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom)
            .decode(value.left(i).toUtf8());
    }
    QByteArray bytes = common::cp932::encode(value);
    qsizetype keep = 0;
    while (keep < bytes.size()) {
        const qsizetype step = common::cp932::isLeadByte(static_cast<unsigned char>(bytes[keep])) ? 2 : 1;
        if (keep + step > 255)
            break;
        keep += step;
    }
    return common::cp932::decode(bytes.left(keep));
}

/// A value as the account dialog gives it: one line, no NUL, and no blank or quote at
/// either end (the profile format trims those, as Windows does).
QString plainValue(QString value)
{
    value.remove(u'\r');
    value.remove(u'\n');
    value.remove(QChar(u'\0'));
    const auto edge = [](QChar c) { return c == u' ' || c == u'\t' || c == u'"' || c == u'\'' || c.isSpace(); };
    while (!value.isEmpty() && edge(value.front()))
        value.remove(0, 1);
    while (!value.isEmpty() && edge(value.back()))
        value.chop(1);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString key = kKeys[in.ConsumeIntegralInRange(0, 2)];
    const QString value = plainValue(QString::fromUtf8(in.ConsumeRandomLengthString(300)));
    const QByteArray before = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    fuzz::Scratch dir;
    const QString path = dir.file(QStringLiteral("iniIdPass.ini"));
    dir.write(QStringLiteral("iniIdPass.ini"), before);
    QStringList others;
    for (const QString& k : kKeys) {
        const QString read = storage::ReadProfileString(path, kSection, k);
        FUZZ_CHECK(common::cp932::encode(read).size() <= 255 ||
                       storage::SettingsEncodingOf(before) != storage::SettingsEncoding::Cp932,
                   visible(read));
        others << read;
    }

    const common::Status st = storage::WriteProfileString(path, kSection, key, value);
    FUZZ_CHECK(st.isOk(), st.detail());
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), path);
    const QByteArray after = file.readAll();
    // A file is UTF-8 by its mark, or by being valid UTF-8 with characters from U+0800
    // up. Code page 932 bytes can happen to form such text after a write (a kanji
    // before a half-width kana), or the value holds a character code page 932 lacks:
    // the write then turns the file into marked UTF-8 of the same text. Its lines are
    // compared as text then.
    const storage::SettingsEncoding kind = storage::SettingsEncodingOf(before);
    const bool converted = kind == storage::SettingsEncoding::Cp932 &&
                           storage::SettingsEncodingOf(after) != storage::SettingsEncoding::Cp932;
    QStringDecoder strict("windows-31j");
    const QString decoded = strict.decode(before);
    const bool garbled = strict.hasError();
    if (converted) {
        FUZZ_CHECK(after.startsWith("\xEF\xBB\xBF"), QStringLiteral("converted without a mark"));
        const auto normal = [](const QString& text) { return common::cp932::encode(text); };
        checkLinesKept(normal(common::cp932::decode(before)), normal(QString::fromUtf8(after.mid(3))), key);
    } else {
        checkLinesKept(before, after, key);
    }
    const QString back = storage::ReadProfileString(path, kSection, key);
    // A value code page 932 cannot hold turns the file into UTF-8 and reads back whole.
    FUZZ_CHECK(back == expectedValue(value, kind != storage::SettingsEncoding::Cp932 || converted),
               visible(back) + QStringLiteral("\nwritten: ") + visible(value));
    for (int k = 0; k < kKeys.size(); ++k) {
        // Bytes no character stood for count once as U+FFFD after a conversion, which
        // can move where a value over 255 bytes is cut.
        const bool cutMayMove = converted && others[k].contains(QChar::ReplacementCharacter) &&
                                common::cp932::encode(others[k]).size() > 200;
        // A lead byte without its trail reads as nothing where a value ends, but stands
        // as a substitute character in the converted file: such a value may change.
        if (kKeys[k] != key && !cutMayMove && !(converted && garbled))
            FUZZ_CHECK(storage::ReadProfileString(path, kSection, kKeys[k]) == others[k],
                       kKeys[k] + QStringLiteral(" changed: ") + visible(others[k]));
    }
    return 0;
}
