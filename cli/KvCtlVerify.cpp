// kvctl verify: the transmitter checked in its own settings at points of its
// range, the input sourced by the line's fixture and, with a meter, its
// output read; nothing written (station/VerifyRun.h).
#include "KvCtl.h"

namespace kvctl {

void TKvCtl::RunVerify() {
    const TArgs& a = *a_;
    if (a.bench.isEmpty() && a.fixture.trimmed().isEmpty() && !FixtureForTests) {
        Fail(exitUsage, QStringLiteral("verify needs --fixture CMD, the command that sources the input at each point "
                                       "(kvctl help verify), or a bench file (--bench); nothing was sent"));
        return;
    }
    TBenchNeeds needs;
    needs.Fixture = !FixtureForTests;
    needs.MeterIfAny = true;
    needs.SourceIfAny = true;
    RunStation(TStationRun::TWhat::Verify, needs);
}

} // namespace kvctl
