#include "emoticons/PaletteFiles.h"

#include "common/Cp932.h"
#include "common/Durable.h"
#include "storage/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace corvidan::emoticons {

namespace {
QString inFolder(const char16_t* name)
{
    return QString::fromUtf16(common::paths::PaletteFolder) + u'\\' + QString::fromUtf16(name);
}
} // namespace

const std::array<PalettePage, PageCount>& palettePages()
{
    static const std::array<PalettePage, PageCount> pages{{
        {u"Kao1", u"顔文字", u"Kao1.txt", u"Kao1.txt"},
        {u"Text1", u"飾りライン・抽象画", u"Text1.txt", u"text1.txt"},
        {u"Text2", u"顔", u"Text2.txt", u"text2.txt"},
        {u"Text3", u"春夏秋冬、年中行事", u"Text3.txt", u"text3.txt"},
        {u"Text4", u"干支、星座、その他", u"Text4.txt", u"text4.txt"},
        {u"Text5", u"乗り物、機械、昆虫、花", u"Text5.txt", u"text5.txt"},
        {u"Text6", u"飲物、食べ物", u"Text6.txt", u"text6.txt"},
        {u"Text7", u"衣料、雑貨、ゲーム、スポーツ", u"Text7.txt", u"text7.txt"},
        {u"Text8", u"SF、場所、音楽", u"Text8.txt", u"text8.txt"},
        {u"Text9", u"その他", u"Text9.txt", u"text9.txt"},
        {u"Text10", u"動物、その他", u"Text10.txt", u"text10.txt"},
        {u"Text11", u"お気に入り", u"Text11.txt", u"text11.txt"},
    }};
    return pages;
}

QString palettePath(const common::AppDir& appDir, int index)
{
    const PalettePage& page = palettePages().at(index);
    // Reading and writing must meet in one file even where both spellings exist.
    const QString asRead = appDir.path(inFolder(page.readName));
    if (QFileInfo::exists(asRead))
        return asRead;
    return appDir.path(inFolder(page.writeName));
}

LoadedPage readPalette(const common::AppDir& appDir, int index)
{
    const QString path = palettePath(appDir, index);
    LoadedPage page;
    const QFileInfo info(path);
    if (!info.exists())
        return page;
    page.exists = true;
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        page.unreadable = true;
        return page;
    }
    // Users are invited to edit these files, and editors often save UTF-8.
    page.text = storage::DecodeSettingsText(file.readAll());
    return page;
}

QByteArray paletteFileBytes(QStringView text)
{
    return common::cp932::encode(withCrLf(text) + QStringLiteral("\r\n"));
}

common::Status writePalette(const common::AppDir& appDir, int index, QStringView text)
{
    const QString path = palettePath(appDir, index);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return common::Status::fail(common::ErrorCode::Io, folder);
    const QFileInfo info(path);
    if (info.exists() && (info.isDir() || ::access(QFile::encodeName(path).constData(), W_OK) != 0))
        return common::Status::fail(common::ErrorCode::Io, path);
    // Written in the encoding the file has: a page an editor saved in UTF-8 would
    // otherwise lose every character code page 932 lacks at the first close.
    QByteArray bytes = paletteFileBytes(text);
    const QByteArray bom = QByteArrayLiteral("\xEF\xBB\xBF");
    storage::SettingsEncoding encoding = storage::SettingsEncoding::Cp932;
    if (info.exists()) {
        QFile old(path);
        if (old.open(QIODevice::ReadOnly))
            encoding = storage::SettingsEncodingOf(old.readAll());
    }
    // Code page 932 bytes that happen to read as UTF-8, and text the code page
    // cannot hold (♥, Hangul, emoji), are marked UTF-8, so they read back as written.
    if (encoding == storage::SettingsEncoding::Cp932 &&
        (storage::SettingsEncodingOf(bytes) != storage::SettingsEncoding::Cp932 ||
         !common::cp932::lacking(text).isEmpty()))
        encoding = storage::SettingsEncoding::Utf8WithBom;
    if (encoding != storage::SettingsEncoding::Cp932) {
        const QByteArray utf8 = (withCrLf(text) + QStringLiteral("\r\n")).toUtf8();
        // Unmarked UTF-8 stays unmarked only while it still reads as UTF-8.
        bytes = encoding == storage::SettingsEncoding::Utf8 &&
                        storage::SettingsEncodingOf(utf8) == storage::SettingsEncoding::Utf8
                    ? utf8
                    : bom + utf8;
    }
    return common::durable::replaceFile(path, bytes);
}

} // namespace corvidan::emoticons
