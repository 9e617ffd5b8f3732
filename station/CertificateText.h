#pragma once
// How the certificate's JSON and its PDF write the same figures: one text
// for a date, a reading, an error and the record's state, and one way to
// give a figure the digits it came with (no binary noise).
#include "Certificate.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace kv::cert {

bool Finite(const std::optional<double>& v);
// "input", "output", "verification", "all".
QString KindName(TKind k);
// ISO 8601 with milliseconds and the offset the time was taken in; "" when unknown.
QString Iso(const QDateTime& t);
// What became of the record, in a sentence (in `translation`'s language
// when given).
QString WriteStateText(const TFacts& f, const lang::TTranslation* translation = nullptr);
// Decimals that show a figure finer than its tolerance.
int DecimalsFor(const TCheck& c);
int DecimalsForTolerance(double tolerance);
// A figure to `decimals` ("n/a" when not finite; no sign on a rounded zero).
QString Fixed(double v, int decimals);
// The same with a sign: an error.
QString Signed(double v, int decimals);

// ---- figures with their own digits

// A figure as its instrument gave it: the shortest decimal that is it when
// that has at most 10 significant digits (a meter's "19.99876"), a single's
// shortest decimal when it is a single (the device's values), else 6
// significant digits (a computed figure: 100.0015537 gives 100.002). Not
// finite stays as it is.
double Shown(double v);
// Six significant digits.
double Significant6(double v);
// The decimals of a figure's shortest decimal (0.0125 has 4, 1.5e-05 has 6).
int DecimalsOf(double v);
// Rounded to `decimals` as a decimal text would be.
double RoundTo(double v, int decimals);

// A point's reading as shown: the mean to the decimals of the readings it
// was taken from (the meter's digits), or the value by Shown. None when not
// measured or no number.
std::optional<double> ShownValue(const TPointReading& r);
// What it had to read: its Expected, else the point's nominal (Shown).
double TargetOf(const TPoint& p, const TPointReading& r);
// Its error (reading - what it had to read; the run's Error when it gives
// one) to the decimals of both.
std::optional<double> ErrorOf(const TPoint& p, const TPointReading& r);
// The error in per cent of the point's span (6 significant digits).
std::optional<double> PercentOfSpan(const TPoint& p, const TPointReading& r);
// The expanded uncertainty (k as budgeted) and the test uncertainty ratio;
// none without a budget or when no number.
std::optional<double> ExpandedOf(const TPointReading& r);
std::optional<double> TurOf(const TPoint& p, const TPointReading& r);

// The decision rule as the certificate states it (English; marked for the
// PDF's translations, context "Certificate").
const char* RuleStatement(kv::station::TDecisionRule rule);

// The meter and the source among the facts' instruments; null when none.
const TReference* MeterOf(const TFacts& f);
const TReference* SourceOf(const TFacts& f);
bool IsStandard(const TReference& r); // neither the meter nor the source

} // namespace kv::cert
