#pragma once
// TMeterSession: the bench meter (BenchMeter.h) at work on a line, whatever
// carries the bytes (kvsim's pseudo-terminal, a test's memory port). Command
// lines are executed one at a time in the order they came; a line with a
// measurement is answered TBenchMeter::kApertureMs after it was taken up,
// with the output as it is then, and the lines that came meanwhile wait for
// it, as on a meter that reads one command at a time. The aperture runs on a
// timer of the link's timer seam (real time in kvsim, a manual clock in tests).
#include "BenchMeter.h"
#include "MBTimer.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kvsim {

class TMeterSession {
public:
    // output: what leaves the transmitter's terminals at the moment of the call.
    TMeterSession(TBenchMeter& meter, TMBTimerFactory& timers, std::function<TMeterReading()> output);

    // Bytes from the line.
    void Receive(std::string_view bytes);
    // The line went away: whatever was half-said or waiting is forgotten.
    void Reset();
    // Each answer line, with its end, to go on the line.
    std::function<void(const std::string& answer)> OnAnswer;

private:
    void Next();
    void Finish();

    TBenchMeter& meter_;
    std::function<TMeterReading()> output_;
    std::unique_ptr<TMBTimer> aperture_;
    TScpiReply measuring_;
};

} // namespace kvsim
