#pragma once
// What a run's verdict (Verdict.h) is judged from, taken from the facts its
// certificate carries: kvctl's exit code, its summary and the certificate's
// heading all come from this one reading of the facts.
//
// - a verification (Kind Verification) never writes: its points' readings
//   are as found;
// - a calibration's points are judged as left, after the acknowledged
//   write; its as-found readings only inform;
// - a point that has no result where one is judged is not verified, with
//   why (its NotMeasured);
// - a run of Kind All has written when either record was, and may hold
//   either when either went unacknowledged.
#include "Certificate.h"
#include "Verdict.h"

namespace kv::cert {

kv::station::TRunOutcome OutcomeOf(const TFacts& facts);
// VerdictOf(OutcomeOf(facts)).
kv::station::TVerdict VerdictOfFacts(const TFacts& facts);
// "input at 50 % (Pt 100, 4 wires)": a point as the verdict and the summary
// name it.
QString PointName(const TPoint& point);

} // namespace kv::cert
