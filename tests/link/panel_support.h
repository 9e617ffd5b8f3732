#pragma once
// A link panel on a manual clock with an in-memory port, for the panel's
// widget tests (offscreen).
#include "MB.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace paneltest {

inline std::string Frame(std::initializer_list<int> b) {
    std::string s;
    for (int v : b)
        s += static_cast<char>(v);
    const std::uint16_t crc = MBCRC16(s);
    s += static_cast<char>(crc & 0xFF);
    s += static_cast<char>(crc >> 8);
    return s;
}

inline QByteArray Ascii(char start, const std::string& frame) {
    return QByteArray::fromStdString(TMBFrameCore::MBEncodeASCII(
        start, reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size()));
}

struct PanelRig {
    TMBManualClock clock;
    TMBMemoryPort* port = nullptr;
    std::unique_ptr<TMB> mb;
    QStringList ports{"/dev/ttyMEM0", "/dev/ttyMEM1"};
    std::vector<bool> openEvents;
    std::vector<std::pair<TMBStatus, std::string>> ends;

    PanelRig() {
        auto p = std::make_unique<TMBMemoryPort>();
        port = p.get();
        mb = std::make_unique<TMB>(nullptr, &clock, std::move(p));
        mb->MBSetPortLister([this](QStringList* l) { *l += ports; });
        mb->OnMBPortOpenedOrClosed = [this](bool open) { openEvents.push_back(open); };
        mb->OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) { ends.emplace_back(s, t); };
    }

    template <class T = QLabel>
    T* Get(const char* name) {
        T* w = mb->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Text(const char* name) { return Get<QLabel>(name)->text(); }
    QColor Background(const char* name) {
        return mb->findChild<QWidget*>(QString::fromLatin1(name))->palette().color(QPalette::Window);
    }
    bool Shown(const char* name) { return !mb->findChild<QWidget*>(QString::fromLatin1(name))->isHidden(); }
    QToolButton* OpenClose() { return Get<QToolButton>("SpeedButton_OpenClose"); }

    // The deferred start-up: the first tick of the one-second timer.
    void Start() { clock.advance(1000); }
    void ClickOpenClose() { OpenClose()->click(); }
    void Open() {
        Start();
        ClickOpenClose();
        ASSERT_TRUE(mb->MBPortOpen());
        port->TakeWritten();
    }
    // One poll answered at once.
    void Poll(std::uint8_t command = 1) {
        mb->setMBMasterCommandToSlave(command);
        mb->MBStartQuery(0);
        port->Push(Ascii('S', Frame({1, 0, 5, 0, 0x2A})));
    }
};

struct Panel : testing::Test, PanelRig {};

} // namespace paneltest
