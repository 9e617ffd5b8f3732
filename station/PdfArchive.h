#pragma once
// What makes the certificate's PDF a PDF/A-2b file, fit to be archived: the
// colour space its RGB colours mean, and the document's description in the
// form archives read (XMP), which says it claims PDF/A-2b and agrees with
// the file's information dictionary.
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace kv::pdf {

// sRGB (IEC 61966-2.1) as an ICC version 2 display profile: D50-adapted
// primaries and the sRGB tone curve, sampled.
QByteArray SrgbProfile();
// The name the profile is known by in an output intent.
inline constexpr char kSrgbName[] = "sRGB IEC61966-2.1";

// `t` as the file's information and its XMP both carry it: NFC, a blank
// for each tab and line end, and U+FFFD for each character that XML cannot
// hold.
QString MetadataText(const QString& t);
// `when` to the second, with its offset from UTC: "D:20261208010203+01'00'".
QByteArray PdfDate(const QDateTime& when);
// The same instant as XMP writes it: "2026-12-08T01:02:03+01:00".
QByteArray XmpDate(const QDateTime& when);

// The XMP packet of a PDF/A-2b file: title, the program that wrote it and
// the dates, each as the information dictionary has it (MetadataText).
QByteArray XmpPacket(const QString& title, const QString& creator, const QDateTime& created);

} // namespace kv::pdf
