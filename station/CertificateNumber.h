#pragma once
// Certificate numbers: the station, the date of issue and a sequence,
// "LINE-3-20261208-0007", unique where the certificates are kept.
//
// A number is claimed, never computed: each claim is a file of that name
// created with O_EXCL in the register, a folder beside the certificates
// ("certificate-numbers" in the PDF's folder). Two runs claiming at the same
// moment, in two processes or on two computers sharing the folder, can
// never get the same number: the second create fails and it takes the
// next. The register stays with the archive it numbers (a per-user folder
// would give two operators of one station the same numbers), and each claim
// file says what became of its number (the certificate written, or why
// none was), so a gap in the sequence is explained to an auditor.
//
// Numbers are claimed when the certificate is issued (after the run), so a
// run that never reaches the device leaves no gap; whether the register
// can take a claim is asked before the device is touched.
#include <QDate>
#include <QString>

#include <optional>

namespace kv::cert {

// The register folder for certificates written to `pdfPath`.
QString RegisterFolderFor(const QString& pdfPath);

// A station's name as a number's first part: letters (accents dropped) and
// digits in upper case, every other run of characters one '-'; the
// computer's name when the station has none ("Line 3, simulated bench" gives
// "LINE-3-SIMULATED-BENCH").
QString StationCode(const QString& station);

// Why no number can be claimed in `folder` now (the folder cannot be made
// or written), with the folder's name; empty when one can. The folder's
// parent (the certificate's folder) must exist: it is never created.
QString CannotClaim(const QString& folder);

struct TClaim {
    QString Number; // "LINE-3-20261208-0007"
    QString File;   // its claim file in the register
};

// Claims the next free number of `station` on `date` in `folder` (created
// when missing, its parent not), writing `note` (who claims it, for which
// certificate) into the claim file. None, and why in `error`, when the
// folder refuses.
std::optional<TClaim> ClaimNumber(const QString& folder, const QString& station, const QDate& date,
                                  const QString& note, QString* error);

// Replaces the claim file's text (what became of the number); the claim
// stays. False with `error` set.
bool RecordClaim(const TClaim& claim, const QString& text, QString* error);

} // namespace kv::cert
