#pragma once
// TMeterSession: the bench meter (BenchMeter.h) at work on a line, whatever
// carries the bytes (kvsim's pseudo-terminal, a test's memory port). Command
// lines are executed one at a time in the order they came; a line with a
// measurement is answered the meter's integration time after it was taken
// up, with the output's mean over that time, and the lines that came
// meanwhile wait for it, as on a meter that reads one command at a time. In
// terminal mode the line's echo goes out when it is taken up, the answer and
// the prompt after it. The integration runs on a timer of the link's timer
// seam (real time in kvsim, a manual clock in tests).
#include "BenchMeter.h"
#include "MBTimer.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kvsim {

// The output's mean over the last `integrationMs` up to the moment of the
// call, and that moment: what leaves the transmitter's terminals.
using TMeterOutput = std::function<TMeterSample(std::uint32_t integrationMs)>;

class TMeterSession {
public:
    TMeterSession(TBenchMeter& meter, TMBTimerFactory& timers, TMeterOutput output);

    // Bytes from the line.
    void Receive(std::string_view bytes);
    // The line went away: whatever was half-said or waiting is forgotten
    // (the meter's own state, remote or local, stays).
    void Reset();
    // What goes on the line (answers with their ends, echoes, prompts).
    std::function<void(const std::string& bytes)> OnAnswer;

private:
    void Next();
    void Finish();
    void Send(const std::string& bytes);

    TBenchMeter& meter_;
    TMeterOutput output_;
    std::unique_ptr<TMBTimer> integration_;
    std::uint32_t integratingMs_ = 0;
    TScpiReply measuring_;
};

} // namespace kvsim
