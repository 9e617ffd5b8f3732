#pragma once
// What a poll answer shows, without a widget: the texts of the status
// display, value by value, by the same rules for the window (which puts them
// into its labels) and kvctl (which prints them). The display formats of the
// measured values follow the input mode of the device's last settings
// answer; the cold-junction and wire-resistance texts follow the mode and
// compensation the settings page shows.
//
// A function that returns no text (std::nullopt) means "leave what is shown
// as it is": the window keeps its label, kvctl shows nothing for it.
#include "DeviceRecords.h"
#include "SettingsModel.h" // DisplayFormats: the formats of the device's mode

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// The language a text is made in: the program's (its installed translation,
// common/Language.h), or the texts' own Hungarian, which JSON outputs keep
// for the values that scripts compare ("Kalibrálatlan!", "Gyári").
enum class TTextLanguage : std::uint8_t { Program, Source };

// Full scale of the 24-bit signed converter counts.
inline constexpr double kADFullScale = 8388607.0;

std::string DateText(std::uint16_t year, std::uint8_t month, std::uint8_t day); // 2016-10-11
std::string FirmwareText(const PollAnswer& a);                                  // v2016-10-11
std::string CalibrationDateText(const PollAnswer& a, TTextLanguage language = TTextLanguage::Program); // or "Kalibrálatlan!"
std::string DataSourceText(std::uint8_t source, TTextLanguage language = TTextLanguage::Program);   // RAM1 ... "???"
std::string DeviceTypeText(std::uint8_t pcbIdentity);                            // KV7730, KV5510, "???"
std::string WorkingTimeText(std::uint32_t minutes, TTextLanguage language = TTextLanguage::Program); // "1 nap, 2 óra, 3 perc, "

// -200 °C or below, or no number at all, means the device has no reading.
bool HasTemperature(double t);
extern const char* const kNoTemperatureText; // "----- °C"
std::string TemperatureText(double t);       // "21.4 °C"
// The internal temperature's own label: the value, or "Hiba! Nincs adat.".
std::string InternalTemperatureText(double t);

// The cold-junction label: with internal compensation (CJC index 0) the
// internal temperature, with an external sensor (1, 2) its temperature, with
// none (3) dashes; another index leaves it.
std::optional<std::string> CJCTemperatureText(const PollAnswer& a, int cjcIndex);
// The stored wire resistance: of the sensor's wires, or with a thermocouple
// (mode index 2) of the external cold-junction sensor's wires; with a
// thermocouple and no external sensor it is left.
std::optional<std::string> WireResistanceText(const PollAnswer& a, int modeIndex, int cjcIndex,
                                              const DisplayFormats& f);
std::string PotEndText(double ohm, const DisplayFormats& f); // "123.45 ohm"

// Measured values, dashes with the unit when the input is not calibrated or
// the device has no value.
std::string PhysicalValueText(std::uint8_t calibrationFlags, double x, const DisplayFormats& f);
std::string CalculatedValueText(std::uint8_t calibrationFlags, double x, const DisplayFormats& f);
// "50.00%"; "-----%" when the input is not calibrated or the level is no
// number (never the last level shown).
std::string OutputPercentText(std::uint8_t calibrationFlags, double fraction);

// Status code 0-5 as the status label writes it; none above 5.
std::optional<std::string> StatusText(std::uint32_t code, TTextLanguage language = TTextLanguage::Program);

// The flag labels the window shows for this answer, in the window's order:
// device errors, calibration state, converter over- and underflow.
std::vector<std::string> ErrorWords(const PollAnswer& a);
std::vector<std::string> ConverterWords(const PollAnswer& a);
// The input switches the device reports closed ("3W", "AZ", ...).
std::vector<std::string> SwitchWords(std::uint16_t switchStates);

// Every text of one answer, as the window shows it after a read of the
// settings (mode and CJC from that answer, formats from its mode).
struct TStatusTexts {
    std::string DeviceType, PCBIdentityAddress, Firmware, CalibrationDate, WorkingTime;
    std::string FizikaiErtek, SzamitottErtek;
    std::string OutputPercent;
    std::string InternalTemperature, InternalTemperatureMin, InternalTemperatureMax;
    std::optional<std::string> CJCTemperature, WireResistance;
    std::string RofPot0, RofPot100;
    std::string RAM1DataSource, RAM2DataSource;
    std::optional<std::string> Status; // none above 5
    std::vector<std::string> Errors, Converter, Switches;
    std::string ADCH0Present, ADCH1Present, ADCH0Average, ADCH1Average, AuCH0, Cycles, ADSamplesPs;
};
TStatusTexts StatusTexts(const PollAnswer& a, int modeIndex, int cjcIndex, const DisplayFormats& f);

} // namespace kv
