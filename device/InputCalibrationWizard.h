#pragma once
// The input calibration wizard without its widgets: the step table, the
// arithmetic each Next performs on the two converter averages, the log lines
// it writes, and the record command 2 carries. The window's pages only
// present what this computes (MainInputCalibration.cpp).
//
// Arithmetic, as the factory procedure has it:
// - differences of readings and offsets are 32-bit signed subtractions that
//   wrap as two's complement (a reading far from its offset never traps);
// - every coefficient is a double computed left to right as written, e.g.
//   RREF_500_3W = d * ETALON_500 / (-b): d times the reference first, then
//   divided by the negated b;
// - a zero divisor stops the step at that formula: the lines logged before
//   it stay, the coefficient keeps its old value, nothing after it is done.
#include "DeviceRecords.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::incal {

// The reference value a step reads (from its edit) before anything else.
enum TReference : std::uint8_t { refNone, ref500, ref5K, refU };

// What the step's picture asks to be connected to the input terminals.
enum TConnection : std::uint8_t {
    connNone,  // step 23
    connOpen,  // pictures A, B: nothing (offsets)
    conn500,   // C, E, G: the 500 ohm reference
    conn5K,    // D, F, H: the 5 kohm reference
    connShort, // I: the thermocouple input shorted
    connUref,  // J: the reference voltage
};

struct TStep {
    int Number;                // the number in the caption: "Step 7/23"
    const char* Page;          // objectName of its page of PageControl3
    std::uint8_t FETControl;   // the poll request's switch byte while it is shown
    int LinesAdded;            // log lines Next adds when it leaves the page
    TReference Reference;
    TConnection Connection;
};

// The pages in order; numbers 4, 8, 9, 12 and 14 have none. Step 23 forces
// nothing (its byte 0 lets the device drive its switches again) and has no
// Next.
inline constexpr std::array<TStep, 18> kSteps{{
    {1, "TabSheet_Step1", 0x92, 3, refNone, connOpen},
    {2, "TabSheet_Step2", 0x80, 3, refNone, connOpen},
    {3, "TabSheet_Step3", 0xC6, 4, refNone, connOpen},
    {5, "TabSheet_Step5", 0xC4, 4, refNone, connOpen},
    {6, "TabSheet_Step6", 0xD2, 4, refNone, conn500},
    {7, "TabSheet_Step7", 0xC6, 5, ref500, conn500},
    {10, "TabSheet_Step10", 0xC0, 4, refNone, conn5K},
    {11, "TabSheet_Step11", 0xC4, 5, ref5K, conn5K},
    {13, "TabSheet_Step13", 0xAE, 3, refNone, conn500},
    {15, "TabSheet_Step15", 0x9A, 4, refNone, conn500},
    {16, "TabSheet_Step16", 0xAC, 3, refNone, conn5K},
    {17, "TabSheet_Step17", 0xA8, 4, refNone, conn5K},
    {18, "TabSheet_Step18", 0x92, 3, refNone, conn500},
    {19, "TabSheet_Step19", 0x80, 3, refNone, conn5K},
    {20, "TabSheet_Step20", 0x98, 3, refNone, connShort},
    {21, "TabSheet_Step21", 0xA8, 3, refNone, connShort},
    {22, "TabSheet_Step22", 0x88, 3, refU, connUref},
    {23, "TabSheet_Step23", 0x00, 0, refNone, connNone},
}};
inline constexpr std::size_t kLastStep = kSteps.size() - 1;

// The words that name a connection, as the line's fixture and kvsim's
// console (after "sensor") take them: "open", "resistor 500", "short",
// "voltage 125", the numbers being the references' values (ohm, mV) as the
// shortest decimal with a full stop. None for connNone.
std::vector<std::string> ConnectionWords(TConnection c, double r500, double r5K, double urefMilliVolt);
// The same words for a resistor or a voltage of any value (a verification
// point's): "resistor 138.506", "voltage 4.096".
std::vector<std::string> ResistorWords(double ohm);
std::vector<std::string> VoltageWords(double milliVolt);

// Every value the wizard computes or keeps; all 0 at start.
struct TValues {
    std::int32_t OFFSET_CH0 = 0;
    std::int32_t OFFSET_CH1_REF_500 = 0;
    std::int32_t OFFSET_CH1_REF_5K = 0;
    std::int32_t OFFSET_CH1_3W_500 = 0;
    std::int32_t OFFSET_CH0_3W_500 = 0;
    std::int32_t OFFSET_CH1_3W_5K = 0;
    std::int32_t OFFSET_CH0_3W_5K = 0;
    double RREF_500_3W = 0;
    double EA_500 = 0;
    double RREF_5K_3W = 0;
    double EA_5K = 0;
    double RREF_500_2W = 0;
    double RREF_5K_2W = 0;
    double RREF_500_4W = 0;
    double RREF_5K_4W = 0;
    std::int32_t OFFSET_CH0_G4 = 0;
    std::int32_t AZ0 = 0;
    double UREF = 0; // mV
    // Working values: never sent.
    std::int32_t a = 0, b = 0, d = 0;
    double ETALON_500 = 0; // ohm
    double ETALON_5K = 0;  // ohm
    double ETALON_U = 0;   // µV
    std::int32_t GainFactor = 0;

    // Command 2's record: the singles rounded from the doubles.
    InputCalibrationRecord Record() const;
};

// a - b as the device's 32-bit arithmetic has it: wrapping, never undefined.
std::int32_t Difference(std::int32_t a, std::int32_t b);

enum TFailure : std::uint8_t { failNone, failDivisionByZero, failInvalidOperation };
// The application's error message for a failure ("" for none).
const char* FailureText(TFailure f);

struct TLogLine {
    std::string Text; // UTF-8
    bool Separator;   // a separator line goes before it
};

struct TStepOutcome {
    std::vector<TLogLine> Lines; // to append, also those before a failure
    TFailure Failure = failNone;
};

// Stores a reference read from its edit: ohm for 500 and 5K, the millivolts
// of Ucal as microvolts.
void StoreReference(TReference ref, double value, TValues& v);

// What Next does on page `index` of kSteps (0..kLastStep-1) with the two
// channel averages of the last poll answer: computes into `v` and returns the
// lines to log. The reference must have been stored before.
TStepOutcome Next(std::size_t index, std::int32_t ch0, std::int32_t ch1, TValues& v);

// The fields of a record that must not be written to a device, each with why:
// a single that is not a finite number, or a reference resistance or
// converter reference that is not above 0 (the trace of a reference entered
// as 0 or below, or of a step measured without its connection). Empty when
// the record is fit to write.
std::vector<std::string> UnwritableFields(const InputCalibrationRecord& r);

} // namespace kv::incal
