#pragma once

#include "common/AppDir.h"
#include "common/Status.h"
#include "common/Text.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace corvidan::emoticons {

/// One page of the palette: its edit box and the file behind it. The file is
/// read under `readName` and written under `writeName`; both reach one file.
struct PalettePage {
    const char16_t* box;
    const char16_t* caption;
    const char16_t* readName;
    const char16_t* writeName;
};

inline constexpr int PageCount = 12;
inline constexpr int FavouritesPage = PageCount - 1;

/// The twelve pages in load and save order (`Kao1`, `Text1` … `Text11`).
const std::array<PalettePage, PageCount>& palettePages();

/// The one file behind page `index`: the existing file in whatever letter case
/// it has, or, when there is none, the write spelling in the palette folder.
QString palettePath(const common::AppDir& appDir, int index);

/// What a page's file held at load: the text, or nothing when the file is missing.
struct LoadedPage {
    QString text;
    bool exists = false;
    /// The file exists but could not be read; writing it back would lose it.
    bool unreadable = false;
};

/// Reads page `index` whole and decodes it from code page 932, or from UTF-8 when
/// an editor saved it so (storage::SettingsEncodingOf); line ends stay.
LoadedPage readPalette(const common::AppDir& appDir, int index);

/// The bytes a page's text is saved as: every line end CR LF, code page 932,
/// one more CR LF at the end (so every save adds one empty line).
QByteArray paletteFileBytes(QStringView text);

/// Writes page `index` durably (old or new content at every instant), creating
/// the palette folder when it is missing, in the file's own encoding (code page
/// 932 as paletteFileBytes, or UTF-8). Text code page 932 cannot hold turns a
/// code page 932 file into marked UTF-8. A read-only file is not replaced.
common::Status writePalette(const common::AppDir& appDir, int index, QStringView text);

using common::text::trimBlanks;

/// `text` with every line end (CR LF, lone CR, lone LF, paragraph separator)
/// written as CR LF.
inline QString withCrLf(QStringView text)
{
    return common::text::toCrLf(text, common::text::LineEnds::WithParagraphSeparator);
}

} // namespace corvidan::emoticons
