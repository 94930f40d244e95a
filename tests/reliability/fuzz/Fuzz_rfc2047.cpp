// Header words and charsets alone: encoded words, parameters and labels from
// arbitrary bytes always give well-formed text.
#include "FuzzSupport.h"

#include "transport/Charset.h"
#include "transport/HeaderDecoder.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace corvidan;
using corvidan::fuzz::visible;
namespace header = corvidan::transport::header;
namespace charset = corvidan::transport::charset;

namespace {

void checkText(const QString& text, const char* what)
{
    FUZZ_CHECK(QStringView(text).isValidUtf16(), QString::fromLatin1(what) + u' ' + visible(text));
}

bool plainAscii(QByteArrayView bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80 || c == '=' || c == '\0' || c == '\x1b')
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QByteArray label = QByteArray::fromStdString(in.ConsumeRandomLengthString(24));
    const QByteArray raw = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    const QString text = header::decodeText(raw);
    checkText(text, "subject");
    // Nothing to decode: the text is the value itself, only unfolded.
    if (plainAscii(raw)) {
        for (QChar c : text)
            FUZZ_CHECK(c.unicode() < 0x80, visible(text));
    }
    checkText(header::decodeAddress(raw), "from");
    checkText(header::plainText(raw), "date");
    checkText(header::parameter(raw, "filename"), "filename");
    checkText(header::parameter(raw, "name"), "name");
    checkText(header::parameter(raw, "charset"), "charset");
    for (const header::Field& field : header::parseFields(raw))
        FUZZ_CHECK(!field.name.contains('\n'), visible(QString::fromLatin1(field.name)));

    checkText(charset::decode(raw, label), "labelled body");
    checkText(charset::decodeGuessed(raw), "guessed body");
    checkText(charset::toCrLf(charset::decodeGuessed(raw)), "line ends");
    const QString wide = charset::widenHalfWidthKana(QString::fromUtf8(raw));
    checkText(wide, "widened");
    if (const std::optional<QByteArray> jis = charset::encodeIso2022Jp(wide)) {
        // What we send as ISO-2022-JP must read back as the text we meant.
        const QString back = charset::decodeIso2022Jp(*jis);
        FUZZ_CHECK(charset::fitsIso2022Jp(wide), visible(wide));
        FUZZ_CHECK(back.size() == wide.size(), visible(wide) + QStringLiteral("\nback: ") + visible(back));
    }
    return 0;
}
