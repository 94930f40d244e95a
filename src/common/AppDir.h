#pragma once

#include <QString>
#include <QStringList>

namespace corvidan::common {

/// The program's root folder. Every file lives below it and is named by a
/// Windows-style relative path ("\★MAilData\zrbdata2.data"); each component is
/// matched without regard to letter case against what already exists, so the
/// differently cased spellings used across the program reach one file.
class AppDir {
public:
    explicit AppDir(QString root);
    /// The folder holding the running executable.
    static AppDir ofExecutable();

    const QString& root() const { return m_root; }
    /// Native absolute path for a relative path that starts with a backslash.
    QString path(QStringView windowsRelative) const;

private:
    QString m_root;
};

/// Follows `components` below `base`, taking at each step the existing entry whose
/// name equals the component ignoring case (an exact match wins); components that
/// do not exist yet are kept as written.
QString resolveIgnoringCase(const QString& base, const QStringList& components);

// The program's fixed relative paths, in the spellings the program uses.
namespace paths {
inline constexpr char16_t ServerSettings[] = u"\\zorbet.ini";
inline constexpr char16_t DataDir[] = u"\\★MAilData";
inline constexpr char16_t AccountFile[] = u"\\★MailData\\iniIdPass.ini";
inline constexpr char16_t ReceivedHistory[] = u"\\★MAilData\\zrbdata2.data";
inline constexpr char16_t ReceivedBackup[] = u"\\★MAilData\\zrbdata2.data.bak";
inline constexpr char16_t ReceivedScratch[] = u"\\★MAilData\\ZRBDATA2.TMP";
inline constexpr char16_t SentHistory[] = u"\\★MAilData\\zrbdata5.data";
inline constexpr char16_t SentScratch[] = u"\\★MAilData\\ZRBDATA5.TMP";
inline constexpr char16_t AddressBook[] = u"\\★MAilData\\Zrbdata20.data";
inline constexpr char16_t AddressBookScratch[] = u"\\★MAilData\\ZRBDATA20.TMP";
inline constexpr char16_t ComposeList[] = u"\\★MAilData\\ZRBASTER20.INI";
inline constexpr char16_t ReceivedOriginals[] = u"\\★MAilData\\originals\\received";
inline constexpr char16_t SentOriginals[] = u"\\★MAilData\\originals\\sent";
inline constexpr char16_t AttachmentFolder[] = u"\\添付フォルダ\\";
inline constexpr char16_t ScratchMessage[] = u"\\添付フォルダ\\0.txt";
inline constexpr char16_t BackgroundPicture[] = u"\\背景画像\\1.jpg";
inline constexpr char16_t NewMailPicture[] = u"\\新着画像\\1.jpg";
inline constexpr char16_t PaletteFolder[] = u"\\顔文字データ";
inline constexpr char16_t QuickSaveFolder[] = u"\\■TextQuickSave\\";
} // namespace paths

} // namespace corvidan::common
