// kvctl calibrate input|output --bench FILE: the bench the calibrations run
// on (station/Bench.h), the command line's options over the file.
#include "KvCtl.h"

namespace kvctl {

bool TKvCtl::CalibrationBench(const TBenchNeeds& needs, TBench& bench) {
    const TArgs& a = *a_;
    TBenchOverrides o;
    if (a.given.contains(QStringLiteral("--meter")))
        o.MeterPort = a.meter;
    if (a.given.contains(QStringLiteral("--meter-baud")))
        o.MeterBaud = a.meterBaud;
    if (a.given.contains(QStringLiteral("--fixture")))
        o.FixtureCommand = a.fixture;
    o.FixtureTimeoutS = a.fixtureTimeoutS;
    o.References = a.references;
    o.Points = a.points;
    const QStringList problems = LoadBench(a.bench, o, env_.now().date(), needs, bench);
    if (problems.isEmpty()) {
        // What the certificate names of the bench (PutIdentity).
        benchStation_ = bench.Station;
        benchSource_ = bench.Source;
        return true;
    }
    for (const QString& p : problems)
        Err(QStringLiteral("kvctl: %1\n").arg(p));
    Err(QStringLiteral("kvctl: %1 refused: nothing was sent\n")
            .arg(a.command == QLatin1String("verify") ? a.command : a.command + QLatin1Char(' ') + a.sub));
    Finish(exitUsage);
    return false;
}

} // namespace kvctl
