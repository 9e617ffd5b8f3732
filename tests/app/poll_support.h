#pragma once
// The main window on a manual clock, its link on an in-memory port answered
// by the in-process device model: the poll cycle runs as in the program, but
// only when the test moves the clock on.
#include "InProcessDevice.h"
#include "MB.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"
#include "Main.h"
#include "NumberPicture.h"
#include "SpeedButton.h"

#include <QAbstractButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace polltest {

// One finished transaction as the dispatcher saw it.
struct TEnded {
    std::uint8_t command;
    TMBStatus status;
    std::vector<std::uint8_t> sent; // the request's data bytes
};

inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (std::uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X ", v);
        s += b;
    }
    if (!s.empty())
        s.pop_back();
    return s;
}

struct TPollRig {
    TMBManualClock clock;
    QTemporaryDir dir;
    std::unique_ptr<TForm_Main> form;
    TMBMemoryPort* port = nullptr;
    std::unique_ptr<kvsim::TInProcessDevice> device; // after form: freed before the port
    std::vector<TEnded> ended;
    QByteArray wireIn; // what the scripted device has heard of a frame so far

    // Without a device the test answers requests itself (Script).
    explicit TPollRig(bool developer = false, bool withDevice = true,
                      const kvsim::TDeviceConfig& config = kvsim::TDeviceConfig::Steady()) {
        TFormMainOptions o;
        o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
        o.LinkTimers = &clock;
        if (developer)
            o.Parameters << QStringLiteral("/QORMIX");
        form = std::make_unique<TForm_Main>(o);
        form->LocalDate = [] { return QDate(2026, 12, 6); };
        auto p = std::make_unique<TMBMemoryPort>();
        port = p.get();
        form->MB1->MBSetPortDevice(std::move(p));
        form->MB1->MBSetPortLister([](QStringList* l) { *l << QStringLiteral("/dev/ttyMEM0"); });
        // See each end before the dispatcher answers it.
        auto dispatcher = form->MB1->OnMBMasterEndOfEvent;
        form->MB1->OnMBMasterEndOfEvent = [this, dispatcher](TMBStatus s, const std::string& t) {
            TEnded e{form->MB1->MBMasterCommandToSlave(), s, {}};
            for (int i = 1; i <= form->MB1->MBDataNumberToSend(); ++i)
                e.sent.push_back(form->MB1->MBTXDataAt(i));
            ended.push_back(std::move(e));
            dispatcher(s, t);
        };
        if (withDevice)
            device = std::make_unique<kvsim::TInProcessDevice>(*port, clock, config);
    }

    // A device played by the test: for each request (command, data) the
    // answer's error code and data, or nothing for no answer at all.
    struct TAnswer {
        std::uint8_t error = 0;
        std::vector<std::uint8_t> data;
    };
    using TScript = std::function<std::optional<TAnswer>(std::uint8_t command, const std::vector<std::uint8_t>& data)>;
    void Script(TScript script) {
        port->OnWritten = [this, script](const QByteArray& piece) {
            // "M", the frame in hexadecimal digits, ";": address, ID,
            // command, error, data, CRC. A frame may be written in pieces.
            wireIn += piece;
            const qsizetype end = wireIn.indexOf(';');
            if (end < 0)
                return;
            const QByteArray wire = wireIn.left(end + 1);
            wireIn.remove(0, end + 1);
            if (wire.size() < 2 || wire.front() != 'M')
                return;
            const QByteArray frame = QByteArray::fromHex(wire.mid(1, wire.size() - 2));
            if (frame.size() < 6)
                return;
            const std::vector<std::uint8_t> data(frame.begin() + 4, frame.end() - 2);
            const auto answer = script(static_cast<std::uint8_t>(frame[2]), data);
            if (!answer)
                return;
            std::string f{char(frame[0]), char(frame[1]), char(frame[2]), char(answer->error)};
            f.append(answer->data.begin(), answer->data.end());
            const std::uint16_t crc = MBCRC16(f);
            f += char(crc & 0xFF);
            f += char(crc >> 8);
            port->Push(QByteArray::fromStdString(TMBFrameCore::MBEncodeASCII(
                'S', reinterpret_cast<const std::uint8_t*>(f.data()), f.size())));
        };
    }
    ~TPollRig() {
        device.reset();
        form.reset();
    }

    QAbstractButton* OpenClose() const {
        return form->MB1->findChild<QAbstractButton*>(QStringLiteral("SpeedButton_OpenClose"));
    }
    // The panel lists the ports at its first second, then Open.
    void Open() {
        if (clock.now() < 1000)
            clock.advanceTo(1000);
        OpenClose()->click();
        ASSERT_TRUE(form->MB1->MBPortOpen());
    }
    void Close() {
        OpenClose()->click();
        ASSERT_FALSE(form->MB1->MBPortOpen());
    }
    // Runs until n more transactions have ended.
    bool Run(std::size_t n, std::int64_t limitMs = 60000) {
        const std::size_t target = ended.size() + n;
        return clock.advanceUntil(
            [&] {
                port->DeliverPending();
                return ended.size() >= target;
            },
            limitMs);
    }
    // Runs until a transaction of `command` has ended with `status`.
    bool RunUntil(std::uint8_t command, TMBStatus status = stOK, std::int64_t limitMs = 60000) {
        const std::size_t from = ended.size();
        return clock.advanceUntil(
            [&] {
                port->DeliverPending();
                for (std::size_t i = from; i < ended.size(); ++i)
                    if (ended[i].command == command && ended[i].status == status)
                        return true;
                return false;
            },
            limitMs);
    }
    std::vector<std::uint8_t> Commands(std::size_t from = 0) const {
        std::vector<std::uint8_t> c;
        for (std::size_t i = from; i < ended.size(); ++i)
            c.push_back(ended[i].command);
        return c;
    }
    // True when the five groups that show the device are all shown (or all
    // hidden when `shown` is false).
    bool DeviceGroups(bool shown) const {
        const QWidget* groups[] = {form->PageControl1, form->GroupBox_SystemData, form->GroupBox_Status,
                                   form->GroupBox_FileOperations, form->GroupBox_ReadWriteDevice};
        for (const QWidget* w : groups)
            if (w->isHidden() == shown)
                return false;
        return true;
    }
};

// Sets the locale's decimal separator for one test and restores it.
struct TSeparator {
    char saved = kv::DecimalSeparator();
    explicit TSeparator(char sep) { kv::SetDecimalSeparator(sep); }
    ~TSeparator() { kv::SetDecimalSeparator(saved); }
};

// The window's output calibration page, steps 1 to 6 with these values for
// 4 mA, 20 mA, 2 V and 10 V, then its write.
inline void RunOutputCalibrationToStep7(TForm_Main& f, const std::array<std::int32_t, 4>& values) {
    f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
    f.PageControl2->setCurrentWidget(f.TabSheet_OutputCalibration);
    for (int step = 1; step <= 6; ++step) {
        if (step != 3 && step != 6) {
            f.PWMValue = values[static_cast<std::size_t>(step - 1 - (step > 3))];
            f.ShowPWMValue();
        }
        f.SpeedButton_OutputCalibrationNext->Click();
    }
    f.SpeedButton_WriteOutputCalibrationToKV->Click();
}

} // namespace polltest
