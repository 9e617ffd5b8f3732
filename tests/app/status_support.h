#pragma once
// A main window whose link holds a composed poll answer, as after a good
// poll, for the status display and developer page tests.
#include "DeviceRecords.h"
#include "MB.h"
#include "MBFrames.h"
#include "Main.h"
#include "NumberPicture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace statustest {

// An answer of a calibrated, healthy device.
inline kv::PollAnswer GoodAnswer() {
    kv::PollAnswer a;
    a.FirmwareYear = 2016;
    a.FirmwareMonth = 10;
    a.FirmwareDay = 11;
    a.ADCH0Present = 1234567;
    a.ADCH1Present = -12;
    a.ADCH0Average = 4194304;
    a.ADCH1Average = -4194304;
    a.RAM1DataSource = 2;
    a.RAM2DataSource = 3;
    a.AuCH0 = 17;
    a.PhysicalValue = 109.73f;
    a.PCBIdentityAddress = 1;
    a.OutputLevel = 0.5f;
    a.WorkingTime = 61;
    a.CalibrationYear = 2020;
    a.CalibrationMonth = 3;
    a.CalibrationDay = 4;
    a.InternalTemperature = 31.4f;
    a.InternalTemperatureMin = 18.2f;
    a.InternalTemperatureMax = 44.6f;
    a.CalibrationFlags = kv::calflag::Input | kv::calflag::Output | kv::calflag::Potentiometer;
    a.CalculatedValue = 25.3f;
    a.CJCTemperature = 22.7f;
    a.WireResistance = 1.23f;
    a.RofPot0 = 10.5f;
    a.RofPot100 = 480.25f;
    a.Cycles = 7;
    a.ADSamplesPs = 1000;
    a.StatusCode = kv::statusOK;
    return a;
}

// The window with its link's receive buffer as the dispatcher finds it.
class TWindow {
public:
    explicit TWindow(bool developer = false) : form(Options(developer)) {
        // Only the answer's bytes are wanted here, not the poll cycle.
        form.MB1->OnMBMasterEndOfEvent = nullptr;
    }

    // Puts an answer frame carrying `data` into MB1 and decodes it.
    void Decode(const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> frame{form.MB1->MBMasterAddressToSlave(), 0, kv::cmdPoll, 0};
        frame.insert(frame.end(), data.begin(), data.end());
        const std::uint16_t crc = MBCRC16(frame.data(), frame.size());
        frame.push_back(static_cast<std::uint8_t>(crc));
        frame.push_back(static_cast<std::uint8_t>(crc >> 8));
        form.MB1->MBParseReceived(TMBFrameCore::MBEncodeASCII('S', frame.data(), frame.size()));
        ASSERT_EQ(form.MB1->MBReceivedDataNumber(), data.size());
        // As the link's end of a poll reaches the cycle, which takes the
        // answer, releases what it ends and hands it to the display.
        form.MB1->setMBMasterCommandToSlave(kv::cmdPoll);
        form.PollCycle().EndOfTransaction(stOK, "OK");
    }
    void Decode(const kv::PollAnswer& a) { Decode(a.Encode()); }

    QTemporaryDir dir;
    TForm_Main form;

private:
    TFormMainOptions Options(bool developer) {
        TFormMainOptions o;
        o.IniFileName = dir.path() + QStringLiteral("/kvsetup.ini");
        if (developer)
            o.Parameters = {QStringLiteral("/QORMIX")};
        return o;
    }
};

} // namespace statustest
