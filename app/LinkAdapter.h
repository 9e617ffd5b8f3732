#pragma once
// LINK ADAPTER: every call the main window makes into the link component MB1.
//
// The link component grows in steps. Each call here is compiled only when
// TMB has the member it needs (a requires-expression picks the branch), and
// otherwise does the nearest harmless thing and reports false. So the window
// builds against every stage of the component and starts using a member the
// moment it exists. When TMB is complete, each function collapses to its
// first branch and this file can be folded into the callers.
#include "MB.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QString>
#include <QVariant>

#include <concepts>
#include <functional>
#include <string>

namespace kv::link {

// MB1.MBLastUsedPort (a property of the component; a dynamic property of the
// object until the component has it).
template <class M = TMB>
void SetLastUsedPort(M& mb, const QString& port) {
    if constexpr (requires { mb.setMBLastUsedPort(port); })
        mb.setMBLastUsedPort(port);
    else
        mb.setProperty("MBLastUsedPort", port);
}

template <class M = TMB>
QString LastUsedPort(const M& mb) {
    if constexpr (requires { { mb.MBLastUsedPort() } -> std::convertible_to<QString>; })
        return mb.MBLastUsedPort();
    else
        return mb.property("MBLastUsedPort").toString();
}

template <class M = TMB>
bool SetBaud(M& mb, TMBBaud baud) {
    if constexpr (requires { mb.setMBBaud(baud); }) {
        mb.setMBBaud(baud);
        return true;
    } else {
        mb.setProperty("MBBaud", static_cast<int>(baud));
        return false;
    }
}

template <class M = TMB>
TMBBaud Baud(const M& mb) {
    if constexpr (requires { { mb.MBBaud() } -> std::convertible_to<TMBBaud>; })
        return mb.MBBaud();
    else
        return static_cast<TMBBaud>(mb.property("MBBaud").toInt());
}

template <class M = TMB>
bool PortOpen(const M& mb) {
    if constexpr (requires { { mb.MBPortOpen() } -> std::convertible_to<bool>; })
        return mb.MBPortOpen();
    else
        return false;
}

// The settings the main window stores for its link component.
template <class M = TMB>
void ApplyStoredSettings(M& mb) {
    if constexpr (requires { mb.setPort(QString()); })
        mb.setPort(QStringLiteral("COM1"));
    if constexpr (requires { mb.setWinQSizeIn(8192u); })
        mb.setWinQSizeIn(8192u);
    if constexpr (requires { mb.setWinQSizeOut(8192u); })
        mb.setWinQSizeOut(8192u);
    if constexpr (requires { mb.setMBSlaveName(QString()); })
        mb.setMBSlaveName(QStringLiteral("MB Slave"));
    else if constexpr (requires { mb.setMBSlaveName(std::string()); })
        mb.setMBSlaveName("MB Slave");
    if constexpr (requires { mb.setMBDataNumberToSend(0); })
        mb.setMBDataNumberToSend(0);
    // The user cannot change the line rate: the transmitter talks at 115 200.
    if constexpr (requires { mb.setMBBaudEditVisible(false); })
        mb.setMBBaudEditVisible(false);
}

// Binds OnMBPortOpenedOrClosed; false while the component has no such event.
template <class M = TMB>
bool BindPortOpenedOrClosed(M& mb, std::function<void(bool)> handler) {
    if constexpr (requires { mb.OnMBPortOpenedOrClosed = handler; }) {
        mb.OnMBPortOpenedOrClosed = std::move(handler);
        return true;
    } else {
        return false;
    }
}

// Binds OnMBMasterEndOfEvent; false while the component has no such event.
template <class M = TMB>
bool BindMasterEndOfEvent(M& mb, std::function<void(TMBStatus, const QString&)> handler) {
    using TStdHandler = std::function<void(TMBStatus, const std::string&)>;
    if constexpr (requires { mb.OnMBMasterEndOfEvent = handler; }) {
        mb.OnMBMasterEndOfEvent = std::move(handler);
        return true;
    } else if constexpr (requires(TStdHandler h) { mb.OnMBMasterEndOfEvent = h; }) {
        // The engine reports its status text as UTF-8.
        mb.OnMBMasterEndOfEvent = [handler = std::move(handler)](TMBStatus status, const std::string& text) {
            handler(status, QString::fromStdString(text));
        };
        return true;
    } else {
        return false;
    }
}

// MBClose: closes the port as the user does by releasing Open (nothing when
// it is closed). False while the component cannot close yet.
template <class M = TMB>
bool Close(M& mb) {
    if constexpr (requires { mb.MBClose(); }) {
        mb.MBClose();
        return true;
    } else {
        return false;
    }
}

// The panel's port list and Open/Close button (null until the panel has them).
inline QListWidget* PortList(QObject& mb) {
    return mb.findChild<QListWidget*>(QStringLiteral("ListBox_Ports"));
}
inline QAbstractButton* OpenCloseButton(QObject& mb) {
    return mb.findChild<QAbstractButton*>(QStringLiteral("SpeedButton_OpenClose"));
}

// MBPortListClick: the user clicked the selected entry of the port list.
template <class M = TMB>
void PortListClick(M& mb) {
    if constexpr (requires { mb.MBPortListClick(); }) {
        mb.MBPortListClick();
    } else if (QListWidget* list = PortList(mb); list && list->currentItem()) {
        SetLastUsedPort(mb, list->currentItem()->text());
    }
}

} // namespace kv::link
