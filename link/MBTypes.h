#pragma once
// The link component's enumerations and the line rates they select. Shared by
// the frame core, the engine, the port layer and the panel.
#include <array>
#include <cstdint>

enum TMBMode {
    modeMaster,
    modeSlave,
    modeASCIIMaster,
    modeASCIISlave,
    modeDiagnostic,
    modeByte,
    modeString
};

enum TMBBaud {
    baud000075,
    baud000110,
    baud000134,
    baud000150,
    baud000300,
    baud000600,
    baud001200,
    baud001800,
    baud002400,
    baud004800,
    baud007200,
    baud009600,
    baud014400,
    baud019200,
    baud038400,
    baud057600,
    baud115200,
    baud128000,
    baud230400,
    baud460800,
    baud921600
};

enum TMBStatus { stOK, stSlaveError, stTimeOut, stClosedPort };

enum TMBStatusNow {
    stnReady,
    stnSending,
    stnWaitingForAnswer,
    stnReceiving,
    stnPortError,
    stnTimeOut,
    stnWaitingForCommand,
    stnReceivedCommand
};

namespace mb {

inline constexpr std::array<std::uint32_t, 21> kBaudRates = {
    75,   110,  134,   150,   300,   600,   1200,   1800,   2400,   4800,   7200,
    9600, 14400, 19200, 38400, 57600, 115200, 128000, 230400, 460800, 921600};

// The rate a TMBBaud selects; a value outside the enumeration selects 9600.
constexpr std::uint32_t BaudToRate(int baud) {
    return (baud >= 0 && baud < static_cast<int>(kBaudRates.size())) ? kBaudRates[baud] : 9600;
}

// The TMBBaud of a rate; a rate not in the table reads as baud009600.
constexpr TMBBaud RateToBaud(std::uint32_t rate) {
    for (std::size_t i = 0; i < kBaudRates.size(); ++i)
        if (kBaudRates[i] == rate)
            return static_cast<TMBBaud>(i);
    return baud009600;
}

} // namespace mb
