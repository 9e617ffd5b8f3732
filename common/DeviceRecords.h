#pragma once
// The transmitter's command numbers and the records its commands carry, as
// plain structs with exact little-endian byte layouts. The setup program
// composes its requests and decodes the answers with these definitions, and
// the simulator's device model answers with them, so both ends share one
// layout. Reals travel as IEEE 754 singles, words and long words low byte
// first.
//
// Decoding follows the link's read rule: a field that does not lie wholly
// inside the received bytes reads as 0 (0.0 for a real), so a short or
// garbled answer never reads past its end. Reals are taken bit for bit, so a
// garbled answer may carry NaN or infinities; callers that compute with them
// must be ready for that.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace kv {

// Device command numbers.
enum TDeviceCommand : std::uint8_t {
    cmdPoll = 1,
    cmdWriteInputCalibration = 2,
    cmdWriteOutputCalibration = 3,
    cmdWriteSettings = 4,
    cmdReadFactoryDefaults = 5,
    cmdReadSettings = 6,
};

// Whether an answer of `dataLength` bytes can be the answer to `command`.
// The device answers a poll with the 82-byte poll answer, a settings read
// with the 15-byte settings record and a write with an acknowledgement whose
// data nobody reads. An answer that crossed its request on a slow line (the
// late answer to an earlier request) shows by its length: a poll answered
// with a settings record or an empty acknowledgement, a settings read
// answered by a poll answer or an empty acknowledgement, a write answered by
// a poll answer. Every other length is taken, a short answer by the read rule.
bool AnswerLengthFits(std::uint8_t command, std::size_t dataLength);

// Error code of an answer to a command the device does not know, and of an
// answer whose request carried a foreign ID.
inline constexpr std::uint8_t kErrorUnknownCommand = 254;
inline constexpr std::uint8_t kErrorID = 255;

// One-shot maintenance actions: bits of the poll request's MaintenanceBits
// and of the answer's acknowledgement byte.
namespace maint {
inline constexpr std::uint8_t Rof2Wire = 0x80;        // store the wire resistance as 0 ohm
inline constexpr std::uint8_t ResetOf2Wire = 0x40;    // clear the stored wire resistance
inline constexpr std::uint8_t Pot0 = 0x20;            // store the potentiometer position as 0 %
inline constexpr std::uint8_t Reset = 0x10;           // restart the device
inline constexpr std::uint8_t FRAMClear = 0x08;       // fill the FRAM with 0xFF, then restart
inline constexpr std::uint8_t Pot100 = 0x04;          // store the potentiometer position as 100 %
inline constexpr std::uint8_t TempMinMaxClear = 0x02; // clear the internal temperature extremes
inline constexpr std::uint8_t PotDefault = 0x01;      // factory potentiometer values
} // namespace maint

// Forcing of the input switches: bits of the poll request's FETControl byte.
namespace fet {
inline constexpr std::uint8_t Force = 0x80;
inline constexpr std::uint8_t ThreeW = 0x40;
inline constexpr std::uint8_t AZ = 0x20;
inline constexpr std::uint8_t Kelvin = 0x10;
inline constexpr std::uint8_t PotFix = 0x08;
inline constexpr std::uint8_t ThreeWAlt = 0x04;
inline constexpr std::uint8_t I400uA = 0x02;
} // namespace fet

// Input switch state word of the poll answer.
namespace sw {
inline constexpr std::uint16_t KelvinNeg = 0x0100;
inline constexpr std::uint16_t ThreeW = 0x0080;
inline constexpr std::uint16_t AZ = 0x0040;
inline constexpr std::uint16_t AZNeg = 0x0020;
inline constexpr std::uint16_t Kelvin = 0x0010;
inline constexpr std::uint16_t I400uA = 0x0008;
inline constexpr std::uint16_t PotFix = 0x0004;
inline constexpr std::uint16_t ThreeWAlt = 0x0002;
inline constexpr std::uint16_t ThreeWAltNeg = 0x0001;
} // namespace sw

// Bits of the poll answer's converter status byte (ADStatusFlags).
namespace adstat {
inline constexpr std::uint8_t CH0Overflow = 0x80;
inline constexpr std::uint8_t CH0Underflow = 0x40;
inline constexpr std::uint8_t CH1Overflow = 0x20;
inline constexpr std::uint8_t CH1Underflow = 0x10;
inline constexpr std::uint8_t InputOutOfRange = 0x08;
} // namespace adstat

// Bits of the poll answer's device error byte (ErrorFlags).
namespace errflag {
inline constexpr std::uint8_t ADC = 0x80;
inline constexpr std::uint8_t FRAM = 0x40;
inline constexpr std::uint8_t OutputRange = 0x08;
} // namespace errflag

// Bits of the poll answer's calibration state byte (CalibrationFlags).
namespace calflag {
inline constexpr std::uint8_t Input = 0x80;
inline constexpr std::uint8_t Output = 0x40;
inline constexpr std::uint8_t Potentiometer = 0x20;
} // namespace calflag

// Bits of the settings record's error-signal flags byte.
namespace errsig {
inline constexpr std::uint8_t Disabled = 0x80;
inline constexpr std::uint8_t High = 0x40;
} // namespace errsig

// Poll answer status codes.
enum TDeviceStatusCode : std::uint8_t {
    statusOK = 0,
    statusSevereError = 1,
    statusSensorOrWire = 2,
    statusUncalibratedPot = 3,
    statusInputOutOfRange = 4,
    statusOutputOutOfRange = 5,
};

// Sentinels of the poll answer for values the device does not have.
inline constexpr float kNoTemperature = -200.0f;    // internal and cold-junction temperature
inline constexpr float kNoCalculatedValue = -300.0f;
inline constexpr float kNoPhysicalValue = 1000000.0f;

// Little-endian writer over a growing byte vector.
class TRecordWriter {
public:
    // `size`: the record's length, so that writing it allocates once.
    explicit TRecordWriter(std::size_t size = 0) { bytes_.reserve(size); }
    void Byte(std::uint8_t v) { bytes_.push_back(v); }
    void Word(std::uint16_t v);
    void LongWord(std::uint32_t v);
    void Single(float v);
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

// Little-endian reader with the link's rule: a field that does not fit in
// what is left reads as 0 and does not move the read position.
class TRecordReader {
public:
    explicit TRecordReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t Byte();
    std::uint16_t Word();
    std::uint32_t LongWord();
    std::int32_t SignedLongWord() { return static_cast<std::int32_t>(LongWord()); }
    float Single();
    std::size_t Position() const { return pos_; }

private:
    bool Fits(std::size_t n) const { return n <= bytes_.size() && pos_ <= bytes_.size() - n; }
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Data of command 1's request, 8 bytes.
struct PollRequest {
    static constexpr std::size_t Size = 8;
    std::uint16_t PWMForceValue = 0;   // offset 0
    std::uint8_t MaintenanceBits = 0;  // offset 2
    std::uint16_t Year = 0;            // offset 3, the PC's local date
    std::uint8_t Month = 0;            // offset 5
    std::uint8_t Day = 0;              // offset 6
    std::uint8_t FETControl = 0;       // offset 7
    std::vector<std::uint8_t> Encode() const;
    static PollRequest Decode(std::span<const std::uint8_t> bytes);
    bool operator==(const PollRequest&) const = default;
};

// Data of command 1's answer, 82 bytes; offsets in the comments.
struct PollAnswer {
    static constexpr std::size_t Size = 82;
    std::uint16_t FirmwareYear = 0;        // 0
    std::uint8_t FirmwareMonth = 0;        // 2
    std::uint8_t FirmwareDay = 0;          // 3
    std::int32_t ADCH0Present = 0;         // 4
    std::int32_t ADCH1Present = 0;         // 8
    std::int32_t ADCH0Average = 0;         // 12
    std::int32_t ADCH1Average = 0;         // 16
    std::uint8_t RAM1DataSource = 0;       // 20: 0 RAM1, 1 RAM2, 2 FRAM1, 3 FRAM2, 4 factory
    std::uint8_t RAM2DataSource = 0;       // 21
    std::uint8_t ADStatusFlags = 0;        // 22, adstat bits
    std::uint8_t MaintenanceAck = 0;       // 23, maint bits
    std::uint8_t AuCH0 = 0;                // 24
    std::uint8_t ErrorFlags = 0;           // 25, errflag bits
    float PhysicalValue = 0;               // 26, ohm or mV
    std::uint8_t PCBIdentityAddress = 0;   // 30: 0 KV7730, 1 KV5510
    float OutputLevel = 0;                 // 31, fraction of full scale
    std::uint32_t WorkingTime = 0;         // 35, minutes
    std::uint16_t CalibrationYear = 0;     // 39, 0 when never calibrated
    std::uint8_t CalibrationMonth = 0;     // 41
    std::uint8_t CalibrationDay = 0;       // 42
    float InternalTemperature = 0;         // 43, °C
    float InternalTemperatureMin = 0;      // 47
    float InternalTemperatureMax = 0;      // 51
    std::uint16_t SwitchStates = 0;        // 55, sw bits
    std::uint8_t CalibrationFlags = 0;     // 57, calflag bits
    float CalculatedValue = 0;             // 58
    float CJCTemperature = 0;              // 62, °C
    float WireResistance = 0;              // 66, ohm
    float RofPot0 = 0;                     // 70, ohm
    float RofPot100 = 0;                   // 74, ohm
    std::uint8_t Cycles = 0;               // 78
    std::uint16_t ADSamplesPs = 0;         // 79
    std::uint8_t StatusCode = 0;           // 81
    std::vector<std::uint8_t> Encode() const;
    static PollAnswer Decode(std::span<const std::uint8_t> bytes);
    bool operator==(const PollAnswer&) const = default;
};

// The settings record of commands 4, 5 and 6, 15 bytes.
struct SettingsRecord {
    static constexpr std::size_t Size = 15;
    std::uint8_t Mode = 0;              // 0: input mode 0-7
    std::uint8_t Wires = 4;             // 1: 2, 3 or 4
    std::uint8_t TCType = 3;            // 2: 0-9 = B E J K L N R S T U
    std::uint8_t CJC = 0;               // 3: 0 internal, 1 ext. Pt1000, 2 ext. Pt100, 3 none
    std::uint8_t Reserved = 0;          // 4
    float FizikaiForOutL = 0.0f;        // 5: value at the output's low end
    float FizikaiForOutH = 100.0f;      // 9: value at the output's high end
    std::uint8_t OutputMode = 0;        // 13: 0-4 = 4-20 mA, 0-20 mA, 0-10 V, 2-10 V, 0-5 V
    std::uint8_t ErrorSignalFlags = 0;  // 14: errsig bits
    std::vector<std::uint8_t> Encode() const;
    static SettingsRecord Decode(std::span<const std::uint8_t> bytes);
    bool operator==(const SettingsRecord&) const = default;
};

// The input calibration record of command 2, 72 bytes, in record order.
struct InputCalibrationRecord {
    static constexpr std::size_t Size = 72;
    std::int32_t OFFSET_CH0 = 0;
    std::int32_t OFFSET_CH1_REF_500 = 0;
    std::int32_t OFFSET_CH1_REF_5K = 0;
    std::int32_t OFFSET_CH1_3W_500 = 0;
    std::int32_t OFFSET_CH1_3W_5K = 0;
    float RREF_500_3W = 0;
    float RREF_500_2W = 0;
    float RREF_500_4W = 0;
    float RREF_5K_4W = 0;
    float RREF_5K_3W = 0;
    float RREF_5K_2W = 0;
    float UREF = 0;
    float EA_500 = 0;
    float EA_5K = 0;
    std::int32_t AZ0 = 0;
    std::int32_t OFFSET_CH0_G4 = 0;
    std::int32_t OFFSET_CH0_3W_500 = 0;
    std::int32_t OFFSET_CH0_3W_5K = 0;
    std::vector<std::uint8_t> Encode() const;
    static InputCalibrationRecord Decode(std::span<const std::uint8_t> bytes);
    bool operator==(const InputCalibrationRecord&) const = default;
};

// The output calibration record of command 3, 8 bytes.
struct OutputCalibrationRecord {
    static constexpr std::size_t Size = 8;
    std::uint16_t PWMForIL = 0;   // 4 mA
    std::uint16_t PWMForIH = 0;   // 20 mA
    std::uint16_t PWMForUL = 0;   // 2 V
    std::uint16_t PWMForUH = 0;   // 10 V
    std::vector<std::uint8_t> Encode() const;
    static OutputCalibrationRecord Decode(std::span<const std::uint8_t> bytes);
    bool operator==(const OutputCalibrationRecord&) const = default;
};

} // namespace kv
