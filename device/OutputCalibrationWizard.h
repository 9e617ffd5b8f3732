#pragma once
// The output calibration wizard's rules, without widgets: its seven steps as
// a table, the arithmetic of the PWM value (its text, the bar position, the
// buttons' steps and the check steps' midpoints) and the log lines each step
// leaves. The window (MainOutputCalibration.cpp) only presents them.
//
// The operator forces a PWM value on the output, reads an external meter and
// moves the value until the meter shows the step's target; Next stores the
// value actually forced. Steps 3 and 6 force the values for 4, 12 and 20 mA
// and for 2, 6 and 10 V to check them; step 7 writes the four values.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kv::outcal {

// The PWM word's range.
inline constexpr std::int32_t kPWMMin = 0;
inline constexpr std::int32_t kPWMMax = 65535;
// The track bar's and the progress bar's positions.
inline constexpr int kBarMax = 100;

// --- The PWM value

// The value as the page shows it: "00 000" (0 gives "00 000", 1234 "01 234").
std::string PWMText(std::int32_t pwm);
// The track bar's and progress bar's position of a value: value × 100 / 65535
// rounded ties-to-even (32767 and 32768 both give 50).
int BarPosition(std::int32_t pwm);
// The value a track bar position stands for: position × 65535 / 100 rounded
// ties-to-even (1 gives 655, 100 gives 65535).
std::int32_t PWMForBarPosition(int position);
// What the poll forces for a value: the value, but never 0 (the device reads
// 0 as "not forced").
std::int32_t ForceValue(std::int32_t pwm);

// The twelve value buttons: a step clamped to the range, or a fixed value.
enum TValueButton : std::uint8_t {
    btnIM10000, btnIM1000, btnIM100, btnIM10, btnIM1,
    btnIP1, btnIP10, btnIP100, btnIP1000, btnIP10000,
    btnOut0, btnOutVegertek,
    btnCount
};
struct TValueButtonRule {
    std::int32_t step; // added, held within the range
    bool fixed;        // `step` is the new value itself
};
extern const TValueButtonRule kValueButtons[btnCount];
std::int32_t ApplyValueButton(std::int32_t pwm, TValueButton button);

// --- The four stored values and the check steps

// The PWM values for 4 mA, 20 mA, 2 V and 10 V.
enum TStoredPWM : std::uint8_t { stIL, stIH, stUL, stUH, stCount, stNone = stCount };
extern const char* const kStoredNames[stCount]; // "PWMForIL", ...

// The check steps' test buttons.
enum TTestPoint : std::uint8_t { tp4mA, tp12mA, tp20mA, tp2V, tp6V, tp10V, tpCount, tpNone = tpCount };
// The value a test button forces: a stored value, or the midpoint of two,
// rounded ties-to-even (1000 and 1003 give 1002, 1000 and 1005 too).
std::int32_t TestValue(TTestPoint point, std::span<const std::int32_t, stCount> stored);

// --- What the meter reads at them

// A step's target as the operator reads it on the meter: the loop current
// in amperes or the voltage output in volts, named as the captions name it.
struct TTarget {
    bool current;
    double value;
    const char* name; // "4 mA"
};
// The targets of the four stored values (4 mA, 20 mA, 2 V, 10 V) and of the
// test buttons (4, 12, 20 mA; 2, 6, 10 V).
extern const TTarget kStoredTargets[stCount];
extern const TTarget kTestTargets[tpCount];

// --- The steps

inline constexpr int kStepCount = 7;

enum TShow : std::uint8_t { showHidden, showShown, showUnchanged };

struct TStepRule {
    bool next;               // Next and its label shown
    bool back;               // Back and its label shown
    TShow valueGroup;        // "PWM Force": the track bar and the value buttons
    TShow progress;          // the progress bar in its place
    bool pwmGroup;           // "PWM Value"
    // Entering the step forces this stored value, and Next stores the forced
    // value into it; or entering puts this test button down; or neither.
    TStoredPWM stored;
    TTestPoint test;
};
// Steps 1 to 7 at indexes 0 to 6.
extern const TStepRule kSteps[kStepCount];

// One line of the visible log; `separator` puts the separator line first.
struct TLogLine {
    std::string text;
    bool separator;
};

// The lines Next leaves on step `index` (0-based) for the value it stores:
// "Lépés N:" (after a separator line from step 2 on) and "PWMForIL = 1 234";
// none on the check steps. The captions follow the steps' own numbers.
std::vector<TLogLine> NextLogLines(int index, std::int32_t storedValue);
// How many lines Back from step `index` takes away: those Next left when it
// came from the step before.
int BackLogLineCount(int index);
// The line a Next leaves before its own when the value it stores differs
// from the one a pending write was pressed for, and the write is withdrawn.
inline constexpr char kWriteWithdrawnLine[] = "Write withdrawn: value changed";

} // namespace kv::outcal
