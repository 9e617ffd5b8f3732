#pragma once
// A pseudo-terminal for tests: the slave path is the "serial port" that the
// code under test opens, the test plays the device on the master side.
// Plain POSIX, no Qt; usable from tests, benchmarks and the simulator's tests.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kvtest {

// The slave's line settings as the master sees them (termios ioctls on the
// master act on the slave).
struct PtyLineSettings {
    std::uint32_t outputRate = 0;
    std::uint32_t inputRate = 0;
    bool bother = false;   // rate set as a number (BOTHER), not a classic constant
    bool raw8N1 = false;   // 8 data bits, no parity, 1 stop bit, no processing, no flow control
    bool localReceive = false; // CLOCAL and CREAD
    std::string frame;     // data bits, parity, stop bits: "8N1", "7E2"
    bool rtsCts = false;   // hardware flow control (CRTSCTS)
    int vmin = -1;
    int vtime = -1;
};

class Pty {
public:
    Pty(); // a fresh master, non-blocking; IsOpen() tells whether it worked
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool IsOpen() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }

    // Writes all bytes at the master, waiting for room up to `timeout`.
    bool Write(std::string_view bytes, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Reads at the master until `count` bytes have come or `timeout` passed.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout);
    // What the master can read right now.
    std::string ReadAvailable();
    // The device end vanishes: the slave sees a hang-up.
    void CloseMaster();

    PtyLineSettings SlaveSettings() const;
    // Whether the slave is in exclusive mode (TIOCEXCL) right now.
    bool SlaveExclusive() const;

private:
    int m_master = -1;
    std::string m_slavePath;
};

// Opens `path` and takes its flock, as another program holding the port
// would. Returns the descriptor (close it to let go) or -1.
int HoldPort(const std::string& path);

} // namespace kvtest
