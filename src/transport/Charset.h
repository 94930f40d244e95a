#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

/// The one place where mail charsets become text and back. Japanese charsets
/// are decoded the way Windows mailers mean them: every Shift_JIS label is code
/// page 932, and ISO-2022-JP and EUC-JP go through the same table, so ①, ㈱, ⅱ
/// and ～ survive and can be stored in code page 932 afterwards.
namespace corvidan::transport::charset {

/// Lower-case canonical name for a label: "windows-31j", "iso-2022-jp",
/// "euc-jp", "utf-8", "us-ascii", or the label itself lower-cased. A language
/// suffix (`ISO-2022-JP*ja`) is dropped.
QByteArray canonicalName(QByteArrayView label);

/// Bytes labelled `label` to text. An empty, unknown or wrong label (8-bit
/// bytes marked us-ascii, invalid UTF-8 marked utf-8) falls back to `guess`.
QString decode(QByteArrayView bytes, QByteArrayView label);

/// The charset unlabelled bytes most likely are: "us-ascii", "iso-2022-jp"
/// (escape sequences), "utf-8" (valid UTF-8), else "euc-jp" or "windows-31j"
/// by which one reads as Japanese text.
QByteArray guess(QByteArrayView bytes);
/// `decode(bytes, guess(bytes))`.
QString decodeGuessed(QByteArrayView bytes);

/// A file name given as bare bytes (a uuencode "begin" line): UTF-8 when
/// valid, else code page 932 when valid, else Latin-1, so no byte is lost.
QString decodeFileName(QByteArrayView bytes);

QString decodeIso2022Jp(QByteArrayView bytes);
QString decodeEucJp(QByteArrayView bytes);

/// True when every character can be sent as ISO-2022-JP (ASCII and JIS X 0208
/// only: no NEC row 13, no IBM extensions, no half-width kana).
bool fitsIso2022Jp(QStringView text);
/// ISO-2022-JP bytes ending in ASCII mode, or nothing when a character does
/// not fit. WAVE DASH and its relatives are sent as the JIS cells Windows uses.
std::optional<QByteArray> encodeIso2022Jp(QStringView text);

/// Half-width katakana widened to full width, voiced marks combined
/// (ｶﾞ → ガ), as Japanese mailers do before sending ISO-2022-JP.
QString widenHalfWidthKana(QStringView text);

/// Line ends made CR LF (lone LF and lone CR included).
QString toCrLf(QStringView text);

} // namespace corvidan::transport::charset
