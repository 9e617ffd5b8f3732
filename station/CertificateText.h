#pragma once
// How the certificate's JSON summary and its PDF write the same figures:
// one text for a date, a reading, an error and the record's state.
#include "Certificate.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace kv::cert {

bool Finite(const std::optional<double>& v);
// "input" or "output".
QString KindName(TKind k);
// ISO 8601 with milliseconds and the offset the time was taken in; "" when unknown.
QString Iso(const QDateTime& t);
// What became of the record, in a sentence.
QString WriteStateText(const TFacts& f);
// Decimals that show a figure finer than its tolerance.
int DecimalsFor(const TCheck& c);
// A figure to `decimals` ("n/a" when not finite; no sign on a rounded zero).
QString Fixed(double v, int decimals);
// The same with a sign: an error.
QString Signed(double v, int decimals);

} // namespace kv::cert
