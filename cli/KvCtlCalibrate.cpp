// kvctl calibrate input|output|all: as found, the adjustment, as left
// (station/StationRun.h), with what each needs of the bench.
#include "KvCtl.h"

namespace kvctl {

void TKvCtl::RunCalibrate() {
    const TArgs& a = *a_;
    const bool input = a.sub == QLatin1String("input") || a.sub == QLatin1String("all");
    const bool output = a.sub == QLatin1String("output") || a.sub == QLatin1String("all");
    if (input && a.bench.isEmpty() && a.fixture.trimmed().isEmpty() && !FixtureForTests) {
        Fail(exitUsage, QStringLiteral("calibrate %1 needs --fixture CMD, the command that connects the references "
                                       "(kvctl help calibrate), or a bench file (--bench); nothing was sent")
                            .arg(a.sub));
        return;
    }
    if (output && a.meter.isEmpty() && a.bench.isEmpty()) {
        Fail(exitUsage, QStringLiteral("calibrate %1 needs --meter PORT, the bench meter's serial port, or a bench "
                                       "file (--bench) (kvctl help calibrate)")
                            .arg(a.sub));
        return;
    }
    if (a.given.contains(QStringLiteral("--fixture")) && a.fixture.trimmed().isEmpty()) {
        Fail(exitUsage, QStringLiteral("calibrate %1 --fixture needs a command%2")
                            .arg(a.sub, input ? QString() : QStringLiteral(", or leave it out when the meter's leads are on "
                                                                           "both outputs and the input is not verified")));
        return;
    }
    TBenchNeeds needs;
    if (input) {
        needs.References = {QStringLiteral("R500"), QStringLiteral("R5K"), QStringLiteral("UREF")};
        needs.Fixture = !FixtureForTests;
    }
    if (output)
        needs.Meter = needs.MeterCurrent = needs.MeterVoltage = true;
    needs.SourceIfAny = true;
    RunStation(input && output ? TStationRun::TWhat::All
               : input         ? TStationRun::TWhat::Input
                               : TStationRun::TWhat::Output,
               needs);
}

} // namespace kvctl
