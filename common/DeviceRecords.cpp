#include "DeviceRecords.h"

#include <bit>

namespace kv {

void TRecordWriter::Word(std::uint16_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v));
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void TRecordWriter::LongWord(std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void TRecordWriter::Single(float v) { LongWord(std::bit_cast<std::uint32_t>(v)); }

std::uint8_t TRecordReader::Byte() {
    if (!Fits(1))
        return 0;
    return bytes_[pos_++];
}

std::uint16_t TRecordReader::Word() {
    if (!Fits(2))
        return 0;
    const std::uint16_t v = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

std::uint32_t TRecordReader::LongWord() {
    if (!Fits(4))
        return 0;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | bytes_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 4;
    return v;
}

float TRecordReader::Single() {
    if (!Fits(4))
        return 0.0f;
    return std::bit_cast<float>(LongWord());
}

std::vector<std::uint8_t> PollRequest::Encode() const {
    TRecordWriter w(Size);
    w.Word(PWMForceValue);
    w.Byte(MaintenanceBits);
    w.Word(Year);
    w.Byte(Month);
    w.Byte(Day);
    w.Byte(FETControl);
    return w.Take();
}

PollRequest PollRequest::Decode(std::span<const std::uint8_t> bytes) {
    TRecordReader r(bytes);
    PollRequest p;
    p.PWMForceValue = r.Word();
    p.MaintenanceBits = r.Byte();
    p.Year = r.Word();
    p.Month = r.Byte();
    p.Day = r.Byte();
    p.FETControl = r.Byte();
    return p;
}

std::vector<std::uint8_t> PollAnswer::Encode() const {
    TRecordWriter w(Size);
    w.Word(FirmwareYear);
    w.Byte(FirmwareMonth);
    w.Byte(FirmwareDay);
    w.LongWord(static_cast<std::uint32_t>(ADCH0Present));
    w.LongWord(static_cast<std::uint32_t>(ADCH1Present));
    w.LongWord(static_cast<std::uint32_t>(ADCH0Average));
    w.LongWord(static_cast<std::uint32_t>(ADCH1Average));
    w.Byte(RAM1DataSource);
    w.Byte(RAM2DataSource);
    w.Byte(ADStatusFlags);
    w.Byte(MaintenanceAck);
    w.Byte(AuCH0);
    w.Byte(ErrorFlags);
    w.Single(PhysicalValue);
    w.Byte(PCBIdentityAddress);
    w.Single(OutputLevel);
    w.LongWord(WorkingTime);
    w.Word(CalibrationYear);
    w.Byte(CalibrationMonth);
    w.Byte(CalibrationDay);
    w.Single(InternalTemperature);
    w.Single(InternalTemperatureMin);
    w.Single(InternalTemperatureMax);
    w.Word(SwitchStates);
    w.Byte(CalibrationFlags);
    w.Single(CalculatedValue);
    w.Single(CJCTemperature);
    w.Single(WireResistance);
    w.Single(RofPot0);
    w.Single(RofPot100);
    w.Byte(Cycles);
    w.Word(ADSamplesPs);
    w.Byte(StatusCode);
    return w.Take();
}

PollAnswer PollAnswer::Decode(std::span<const std::uint8_t> bytes) {
    TRecordReader r(bytes);
    PollAnswer a;
    a.FirmwareYear = r.Word();
    a.FirmwareMonth = r.Byte();
    a.FirmwareDay = r.Byte();
    a.ADCH0Present = r.SignedLongWord();
    a.ADCH1Present = r.SignedLongWord();
    a.ADCH0Average = r.SignedLongWord();
    a.ADCH1Average = r.SignedLongWord();
    a.RAM1DataSource = r.Byte();
    a.RAM2DataSource = r.Byte();
    a.ADStatusFlags = r.Byte();
    a.MaintenanceAck = r.Byte();
    a.AuCH0 = r.Byte();
    a.ErrorFlags = r.Byte();
    a.PhysicalValue = r.Single();
    a.PCBIdentityAddress = r.Byte();
    a.OutputLevel = r.Single();
    a.WorkingTime = r.LongWord();
    a.CalibrationYear = r.Word();
    a.CalibrationMonth = r.Byte();
    a.CalibrationDay = r.Byte();
    a.InternalTemperature = r.Single();
    a.InternalTemperatureMin = r.Single();
    a.InternalTemperatureMax = r.Single();
    a.SwitchStates = r.Word();
    a.CalibrationFlags = r.Byte();
    a.CalculatedValue = r.Single();
    a.CJCTemperature = r.Single();
    a.WireResistance = r.Single();
    a.RofPot0 = r.Single();
    a.RofPot100 = r.Single();
    a.Cycles = r.Byte();
    a.ADSamplesPs = r.Word();
    a.StatusCode = r.Byte();
    return a;
}

std::vector<std::uint8_t> SettingsRecord::Encode() const {
    TRecordWriter w(Size);
    w.Byte(Mode);
    w.Byte(Wires);
    w.Byte(TCType);
    w.Byte(CJC);
    w.Byte(Reserved);
    w.Single(FizikaiForOutL);
    w.Single(FizikaiForOutH);
    w.Byte(OutputMode);
    w.Byte(ErrorSignalFlags);
    return w.Take();
}

SettingsRecord SettingsRecord::Decode(std::span<const std::uint8_t> bytes) {
    TRecordReader r(bytes);
    SettingsRecord s;
    s.Mode = r.Byte();
    s.Wires = r.Byte();
    s.TCType = r.Byte();
    s.CJC = r.Byte();
    s.Reserved = r.Byte();
    s.FizikaiForOutL = r.Single();
    s.FizikaiForOutH = r.Single();
    s.OutputMode = r.Byte();
    s.ErrorSignalFlags = r.Byte();
    return s;
}

std::vector<std::uint8_t> InputCalibrationRecord::Encode() const {
    TRecordWriter w(Size);
    auto l = [&w](std::int32_t v) { w.LongWord(static_cast<std::uint32_t>(v)); };
    l(OFFSET_CH0);
    l(OFFSET_CH1_REF_500);
    l(OFFSET_CH1_REF_5K);
    l(OFFSET_CH1_3W_500);
    l(OFFSET_CH1_3W_5K);
    w.Single(RREF_500_3W);
    w.Single(RREF_500_2W);
    w.Single(RREF_500_4W);
    w.Single(RREF_5K_4W);
    w.Single(RREF_5K_3W);
    w.Single(RREF_5K_2W);
    w.Single(UREF);
    w.Single(EA_500);
    w.Single(EA_5K);
    l(AZ0);
    l(OFFSET_CH0_G4);
    l(OFFSET_CH0_3W_500);
    l(OFFSET_CH0_3W_5K);
    return w.Take();
}

InputCalibrationRecord InputCalibrationRecord::Decode(std::span<const std::uint8_t> bytes) {
    TRecordReader r(bytes);
    InputCalibrationRecord c;
    c.OFFSET_CH0 = r.SignedLongWord();
    c.OFFSET_CH1_REF_500 = r.SignedLongWord();
    c.OFFSET_CH1_REF_5K = r.SignedLongWord();
    c.OFFSET_CH1_3W_500 = r.SignedLongWord();
    c.OFFSET_CH1_3W_5K = r.SignedLongWord();
    c.RREF_500_3W = r.Single();
    c.RREF_500_2W = r.Single();
    c.RREF_500_4W = r.Single();
    c.RREF_5K_4W = r.Single();
    c.RREF_5K_3W = r.Single();
    c.RREF_5K_2W = r.Single();
    c.UREF = r.Single();
    c.EA_500 = r.Single();
    c.EA_5K = r.Single();
    c.AZ0 = r.SignedLongWord();
    c.OFFSET_CH0_G4 = r.SignedLongWord();
    c.OFFSET_CH0_3W_500 = r.SignedLongWord();
    c.OFFSET_CH0_3W_5K = r.SignedLongWord();
    return c;
}

std::vector<std::uint8_t> OutputCalibrationRecord::Encode() const {
    TRecordWriter w(Size);
    w.Word(PWMForIL);
    w.Word(PWMForIH);
    w.Word(PWMForUL);
    w.Word(PWMForUH);
    return w.Take();
}

OutputCalibrationRecord OutputCalibrationRecord::Decode(std::span<const std::uint8_t> bytes) {
    TRecordReader r(bytes);
    OutputCalibrationRecord c;
    c.PWMForIL = r.Word();
    c.PWMForIH = r.Word();
    c.PWMForUL = r.Word();
    c.PWMForUH = r.Word();
    return c;
}

bool AnswerLengthFits(std::uint8_t command, std::size_t dataLength) {
    const bool pollAnswer = dataLength == PollAnswer::Size;
    const bool settingsRecord = dataLength == SettingsRecord::Size;
    const bool acknowledgement = dataLength == 0;
    switch (command) {
    case cmdPoll: return !settingsRecord && !acknowledgement;
    case cmdReadSettings:
    case cmdReadFactoryDefaults: return !pollAnswer && !acknowledgement;
    case cmdWriteInputCalibration:
    case cmdWriteOutputCalibration:
    case cmdWriteSettings: return !pollAnswer;
    default: return true;
    }
}

} // namespace kv
