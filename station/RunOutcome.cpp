#include "RunOutcome.h"

namespace kv::cert {

using kv::station::TPutBack;
using kv::station::TRunOutcome;

QString PointName(const TPoint& p) {
    return QStringLiteral("%1 at %2 % (%3)").arg(p.Quantity, QString::number(p.Percent, 'g', 6), p.Path);
}

TRunOutcome OutcomeOf(const TFacts& f) {
    TRunOutcome r;
    r.Adjusts = f.Kind != TKind::Verification;
    r.Write = f.Write;
    if (f.Kind == TKind::All) {
        if (f.Write == TWrite::Unacknowledged || f.OutputWrite == TWrite::Unacknowledged)
            r.Write = TWrite::Unacknowledged;
        else if (f.Write == TWrite::Acknowledged || f.OutputWrite == TWrite::Acknowledged)
            r.Write = TWrite::Acknowledged;
    }
    r.Stopped = f.Failure;
    r.NotWrittenBecause = f.NotWrittenBecause;
    r.SettingsGivenBack = f.SettingsGivenBack;
    r.ForcingEnded = f.ForcingEnded;
    r.LeftIn = f.LeftIn;
    r.NotVerified = f.NotVerified;
    const bool judgedAsLeft = r.Adjusts && r.Write == TWrite::Acknowledged;
    for (const TPoint& p : f.Points) {
        if (p.AsFound.Result)
            r.AsFound.push_back(*p.AsFound.Result);
        if (p.AsLeft.Result)
            r.AsLeft.push_back(*p.AsLeft.Result);
        const TPointReading& judged = r.Adjusts ? p.AsLeft : p.AsFound;
        if ((!r.Adjusts || judgedAsLeft) && !judged.Result)
            r.NotVerified << QStringLiteral("%1: %2").arg(PointName(p), judged.NotMeasured.isEmpty()
                                                                            ? QStringLiteral("not measured")
                                                                            : judged.NotMeasured);
    }
    // The adjustment's own checks prove nothing about its references, so
    // they never make a pass; one out of tolerance after the write fails it.
    if (judgedAsLeft)
        for (const TCheck& c : f.Checks)
            if (c.AsLeft && !WithinTolerance(c, c.AsLeft))
                r.AsLeft.push_back(kv::station::TOutcome::Fail);
    return r;
}

kv::station::TVerdict VerdictOfFacts(const TFacts& f) { return kv::station::VerdictOf(OutcomeOf(f)); }

} // namespace kv::cert
