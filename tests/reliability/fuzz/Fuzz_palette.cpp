// Palette files of arbitrary bytes: loading never fails, and saving what was
// loaded reads back as the same text with the one empty line a save adds.
#include "FuzzSupport.h"

#include "common/AppDir.h"
#include "emoticons/PaletteFiles.h"

#include <QDir>
#include <fuzzer/FuzzedDataProvider.h>

using namespace corvidan;
using corvidan::fuzz::visible;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int page = in.ConsumeIntegralInRange(0, emoticons::PageCount - 1);
    const QByteArray bytes = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    fuzz::Scratch dir;
    QDir().mkpath(dir.file(QStringLiteral("顔文字データ")));
    const common::AppDir appDir(dir.path());
    QFile file(emoticons::palettePath(appDir, page));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        fuzz::fail("palette file");
    file.close();

    const emoticons::LoadedPage loaded = emoticons::readPalette(appDir, page);
    FUZZ_CHECK(loaded.exists && !loaded.unreadable, file.fileName());
    FUZZ_CHECK(QStringView(loaded.text).isValidUtf16(), visible(loaded.text));

    const common::Status st = emoticons::writePalette(appDir, page, loaded.text);
    FUZZ_CHECK(st.isOk(), st.detail());
    const emoticons::LoadedPage again = emoticons::readPalette(appDir, page);
    // Text code page 932 cannot hold makes the file UTF-8: every page comes back whole.
    const QString expected = emoticons::withCrLf(loaded.text) + QStringLiteral("\r\n");
    FUZZ_CHECK(again.text == expected, visible(again.text) + QStringLiteral("\nexpected: ") + visible(expected));
    return 0;
}
