#include "Verdict.h"

#include <algorithm>

namespace kv::station {

namespace {

// "2 of 5 as-left points failed and 1 was conditional".
QString Summary(const std::vector<TOutcome>& outcomes, const QString& which) {
    const auto count = [&](TOutcome o) { return static_cast<int>(std::count(outcomes.begin(), outcomes.end(), o)); };
    const int n = static_cast<int>(outcomes.size());
    const int failed = count(TOutcome::Fail), conditional = count(TOutcome::Conditional);
    if (n == 0)
        return QStringLiteral("no %1point was verified").arg(which);
    const QString points = which + (n == 1 ? QStringLiteral("point") : QStringLiteral("points"));
    const QString was = conditional == 1 ? QStringLiteral("was") : QStringLiteral("were");
    if (failed > 0 && conditional > 0)
        return QStringLiteral("%1 of %2 %3 failed and %4 %5 conditional").arg(failed).arg(n).arg(points).arg(conditional).arg(was);
    if (failed > 0)
        return QStringLiteral("%1 of %2 %3 failed").arg(failed).arg(n).arg(points);
    if (conditional > 0)
        return QStringLiteral("%1 of %2 %3 %4 conditional (a pass its uncertainty cannot support)")
            .arg(conditional).arg(n).arg(points, was);
    return n == 1 ? QStringLiteral("the one %1 passed").arg(points) : QStringLiteral("all %1 %2 passed").arg(n).arg(points);
}

QString Capitalised(QString s) {
    if (!s.isEmpty())
        s[0] = s[0].toUpper();
    return s;
}

bool AllPassed(const std::vector<TOutcome>& outcomes) {
    return !outcomes.empty() &&
           std::all_of(outcomes.begin(), outcomes.end(), [](TOutcome o) { return o == TOutcome::Pass; });
}

QString NotVerifiedText(const TRunOutcome& r) {
    return QStringLiteral("not verified: %1").arg(r.NotVerified.join(QStringLiteral("; ")));
}

QString Holds(const TRunOutcome& r) {
    switch (r.Write) {
    case TWrite::NotSent:
        return r.Adjusts ? QStringLiteral("nothing was written, the device keeps the calibration it had")
                         : QStringLiteral("nothing was written");
    case TWrite::Unacknowledged:
        return QStringLiteral("the record was sent without acknowledgement, the device may hold the old or the new "
                              "calibration");
    case TWrite::Acknowledged:
        return QStringLiteral("the device holds the new calibration, written and acknowledged");
    }
    return {};
}

QString Settings(const TRunOutcome& r) {
    const QString left = r.LeftIn.isEmpty() ? QString() : QStringLiteral(" (left in %1)").arg(r.LeftIn);
    switch (r.SettingsGivenBack) {
    case TPutBack::Yes: return QStringLiteral("its own settings were given back");
    case TPutBack::No: return QStringLiteral("its own settings were not given back") + left;
    case TPutBack::Unknown: return QStringLiteral("whether its own settings were given back is not known") + left;
    }
    return {};
}

QString Forcing(const TRunOutcome& r) {
    switch (r.ForcingEnded) {
    case TPutBack::Yes: return QStringLiteral("forcing ended");
    case TPutBack::No: return QStringLiteral("it is still forced");
    case TPutBack::Unknown: return QStringLiteral("it may still be forced");
    }
    return {};
}

} // namespace

QString VerdictTitle(TVerdictKind k) {
    switch (k) {
    case TVerdictKind::Passed: return QStringLiteral("PASSED");
    case TVerdictKind::Failed: return QStringLiteral("FAILED");
    case TVerdictKind::AdjustedFailedVerification: return QStringLiteral("ADJUSTED – FAILED VERIFICATION");
    case TVerdictKind::NotCompleted: return QStringLiteral("NOT COMPLETED");
    }
    return {};
}

QString VerdictCode(TVerdictKind k) {
    switch (k) {
    case TVerdictKind::Passed: return QStringLiteral("passed");
    case TVerdictKind::Failed: return QStringLiteral("failed");
    case TVerdictKind::AdjustedFailedVerification: return QStringLiteral("adjusted-failed-verification");
    case TVerdictKind::NotCompleted: return QStringLiteral("not-completed");
    }
    return {};
}

TVerdict VerdictOf(const TRunOutcome& r) {
    const bool putBack = r.SettingsGivenBack == TPutBack::Yes && r.ForcingEnded == TPutBack::Yes;
    if (!r.Stopped.isEmpty() || r.Write == TWrite::Unacknowledged || !putBack) {
        const QString cause = !r.Stopped.isEmpty()         ? QStringLiteral("The run stopped (%1)").arg(r.Stopped)
                              : !putBack                   ? QStringLiteral("The run could not put the device back")
                                                           : QStringLiteral("The write was not acknowledged");
        return {TVerdictKind::NotCompleted,
                QStringLiteral("%1: %2; %3; %4.").arg(cause, Holds(r), Settings(r), Forcing(r))};
    }
    const QString unverified = r.NotVerified.isEmpty() ? QString() : QStringLiteral("; ") + NotVerifiedText(r);
    if (r.Write == TWrite::Acknowledged) {
        if (AllPassed(r.AsLeft) && r.NotVerified.isEmpty())
            return {TVerdictKind::Passed,
                    QStringLiteral("The device holds the new calibration, written and acknowledged, and %1.")
                        .arg(Summary(r.AsLeft, QStringLiteral("as-left ")))};
        return {TVerdictKind::AdjustedFailedVerification,
                QStringLiteral("The device holds the new calibration, written and acknowledged, but %1%2.")
                    .arg(AllPassed(r.AsLeft) ? QStringLiteral("not all of it was verified")
                                             : Summary(r.AsLeft, QStringLiteral("as-left ")),
                         unverified)};
    }
    if (r.Adjusts) {
        const QString why = r.NotWrittenBecause.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(r.NotWrittenBecause);
        return {TVerdictKind::Failed,
                QStringLiteral("Nothing was written%1; the device keeps the calibration it had%2.").arg(why, unverified)};
    }
    if (AllPassed(r.AsFound) && r.NotVerified.isEmpty())
        return {TVerdictKind::Passed,
                QStringLiteral("%1; nothing was written to the device.").arg(Capitalised(Summary(r.AsFound, QString())))};
    const QString summary = AllPassed(r.AsFound) ? QStringLiteral("Not all of the device was verified")
                                                 : Capitalised(Summary(r.AsFound, QString()));
    return {TVerdictKind::Failed,
            QStringLiteral("%1%2; nothing was written, the device is as it was.").arg(summary, unverified)};
}

} // namespace kv::station
