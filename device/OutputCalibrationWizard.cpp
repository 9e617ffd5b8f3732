#include "OutputCalibrationWizard.h"

#include "NumberPicture.h"
#include "Rounding.h"
#include "WizardLog.h"

#include <algorithm>

namespace kv::outcal {

std::string PWMText(std::int32_t pwm) { return FormatPicture(pwm, "00 000"); }

int BarPosition(std::int32_t pwm) {
    // The product in integers, the division in floating point.
    const std::int64_t scaled = static_cast<std::int64_t>(pwm) * kBarMax;
    return static_cast<int>(RoundHalfEven(static_cast<double>(scaled) / kPWMMax));
}

std::int32_t PWMForBarPosition(int position) {
    const std::int64_t scaled = static_cast<std::int64_t>(position) * kPWMMax;
    return static_cast<std::int32_t>(RoundHalfEven(static_cast<double>(scaled) / kBarMax));
}

std::int32_t ForceValue(std::int32_t pwm) { return pwm < 1 ? 1 : pwm; }

const TValueButtonRule kValueButtons[btnCount] = {
    {-10000, false}, {-1000, false}, {-100, false}, {-10, false},  {-1, false},    {1, false},
    {10, false},     {100, false},   {1000, false}, {10000, false}, {kPWMMin, true}, {kPWMMax, true},
};

std::int32_t ApplyValueButton(std::int32_t pwm, TValueButton button) {
    const TValueButtonRule& r = kValueButtons[button];
    if (r.fixed)
        return r.step;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(static_cast<std::int64_t>(pwm) + r.step, kPWMMin, kPWMMax));
}

const char* const kStoredNames[stCount] = {"PWMForIL", "PWMForIH", "PWMForUL", "PWMForUH"};

std::int32_t TestValue(TTestPoint point, std::span<const std::int32_t, stCount> stored) {
    auto midpoint = [](std::int32_t a, std::int32_t b) {
        return static_cast<std::int32_t>(RoundHalfEven((static_cast<double>(a) + b) / 2.0));
    };
    switch (point) {
    case tp4mA: return stored[stIL];
    case tp12mA: return midpoint(stored[stIL], stored[stIH]);
    case tp20mA: return stored[stIH];
    case tp2V: return stored[stUL];
    case tp6V: return midpoint(stored[stUL], stored[stUH]);
    case tp10V: return stored[stUH];
    default: return 0;
    }
}

const TTarget kStoredTargets[stCount] = {
    {true, 4e-3, "4 mA"}, {true, 20e-3, "20 mA"}, {false, 2.0, "2 V"}, {false, 10.0, "10 V"}};
const TTarget kTestTargets[tpCount] = {{true, 4e-3, "4 mA"},  {true, 12e-3, "12 mA"}, {true, 20e-3, "20 mA"},
                                       {false, 2.0, "2 V"},   {false, 6.0, "6 V"},    {false, 10.0, "10 V"}};

// clang-format off
const TStepRule kSteps[kStepCount] = {
    //  next   back   "PWM Force"    progress bar   "PWM Value" stored  test
    {true,  false, showShown,     showHidden,    true,       stIL,   tpNone}, // 1: 4 mA
    {true,  true,  showShown,     showHidden,    true,       stIH,   tpNone}, // 2: 20 mA
    {true,  true,  showHidden,    showShown,     true,       stNone, tp12mA}, // 3: check the current
    {true,  true,  showShown,     showHidden,    true,       stUL,   tpNone}, // 4: 2 V
    {true,  true,  showShown,     showHidden,    true,       stUH,   tpNone}, // 5: 10 V
    {true,  true,  showHidden,    showShown,     true,       stNone, tp6V},   // 6: check the voltage
    {false, true,  showUnchanged, showUnchanged, false,      stNone, tpNone}, // 7: write
};
// clang-format on

std::vector<TLogLine> NextLogLines(int index, std::int32_t storedValue) {
    if (index < 0 || index >= kStepCount || kSteps[index].stored == stNone)
        return {};
    return {
        {StepCaptionLine(index + 1), index > 0},
        {std::string(kStoredNames[kSteps[index].stored]) + " = " + FormatPicture(storedValue, "## ##0"), false},
    };
}

int BackLogLineCount(int index) {
    int n = 0;
    for (const TLogLine& l : NextLogLines(index - 1, 0))
        n += l.separator ? 2 : 1;
    return n;
}

} // namespace kv::outcal
