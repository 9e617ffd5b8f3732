#include "MBFrames.h"

#include "NumberPicture.h"

#include <array>
#include <cstring>

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        std::uint16_t r = static_cast<std::uint16_t>(i);
        for (int b = 0; b < 8; ++b)
            r = (r & 1) ? static_cast<std::uint16_t>((r >> 1) ^ 0xA001) : static_cast<std::uint16_t>(r >> 1);
        t[i] = r;
    }
    return t;
}
constexpr auto kCrcTable = MakeCrcTable();

// Character classes of the ASCII receivers: 0..15 a digit's value (upper-case
// hexadecimal only), then the three characters with a meaning, then the rest.
constexpr std::uint8_t kClsS = 16, kClsM = 17, kClsEnd = 18, kClsOther = 19;
constexpr std::array<std::uint8_t, 256> MakeClassTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& c : t)
        c = kClsOther;
    for (int d = 0; d < 10; ++d)
        t['0' + d] = static_cast<std::uint8_t>(d);
    for (int d = 0; d < 6; ++d)
        t['A' + d] = static_cast<std::uint8_t>(10 + d);
    t['S'] = kClsS;
    t['M'] = kClsM;
    t[';'] = kClsEnd;
    return t;
}
constexpr auto kClass = MakeClassTable();

constexpr char kHexDigits[] = "0123456789ABCDEF";

} // namespace

std::uint16_t MBCRC16(const std::uint8_t* data, std::size_t n) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

TMBFrameCore::TMBFrameCore() = default;
TMBFrameCore::~TMBFrameCore() = default;

bool TMBFrameCore::MBWriteToPort(const std::uint8_t*, std::size_t) { return false; }

// ---- mode -------------------------------------------------------------------

void TMBFrameCore::setMBMode(TMBMode mode) {
    if (mode < modeMaster || mode > modeString)
        return;
    FMode = mode;
    FHeaderLength = (mode == modeASCIIMaster || mode == modeASCIISlave) ? 4 : 3;
}

bool TMBFrameCore::IsFramedMode() const { return FMode != modeByte && FMode != modeString; }

// ---- frame fields -------------------------------------------------------------

void TMBFrameCore::setMBMasterAddressToSlave(std::uint8_t v) {
    // The binary address byte has four address bits; the ASCII frame has eight.
    FMasterAddressToSlave = (FMode != modeASCIIMaster && v > 15) ? 15 : v;
}

// ---- transmit data buffer -------------------------------------------------------

void TMBFrameCore::MBTXBufferClear() {
    FTXIndex = 1;
    FDataNumberToSend = 0;
    std::memset(FTXData, 0, sizeof FTXData);
}

void TMBFrameCore::setMBMBTXDataBufferIndex(std::uint16_t index) {
    FTXIndex = index == 0 ? 1 : (index > kMaxData ? kMaxData : index);
}

void TMBFrameCore::setMBDataNumberToSend(std::uint16_t count) {
    FDataNumberToSend = count > kMaxData ? kMaxData : count;
}

bool TMBFrameCore::PutBytes(const std::uint8_t* bytes, int n) {
    const int i = FTXIndex;
    // A put that ends exactly on the last position is written but neither
    // advances the index nor counts: the index cannot point past the buffer.
    if (i + n > kMaxData + 1)
        return false;
    std::memcpy(FTXData + i, bytes, static_cast<std::size_t>(n));
    if (i + n <= kMaxData) {
        FTXIndex = static_cast<std::uint16_t>(i + n);
        if (i + n - 1 > FDataNumberToSend)
            FDataNumberToSend = static_cast<std::uint16_t>(i + n - 1);
    }
    return true;
}

void TMBFrameCore::MBPutByte(std::uint8_t value) { PutBytes(&value, 1); }

void TMBFrameCore::MBPutWord(std::uint16_t value) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    PutBytes(b, 2);
}

void TMBFrameCore::MBPutLongWord(std::uint32_t value) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                               static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    PutBytes(b, 4);
}

void TMBFrameCore::MBPutSingle(float value) {
    std::uint32_t bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    MBPutLongWord(bits);
}

void TMBFrameCore::MBPutString(std::string_view text) {
    const std::size_t i = FTXIndex;
    const std::size_t n = text.size() + 1;
    if (i + n > static_cast<std::size_t>(kMaxData) + 1)
        return;
    std::memcpy(FTXData + i, text.data(), text.size());
    FTXData[i + text.size()] = 0;
    if (i + n <= static_cast<std::size_t>(kMaxData)) {
        FTXIndex = static_cast<std::uint16_t>(i + n);
        if (i + n - 1 > FDataNumberToSend)
            FDataNumberToSend = static_cast<std::uint16_t>(i + n - 1);
    } else {
        // The characters moved the index one by one; it rests on the 0.
        FTXIndex = static_cast<std::uint16_t>(i + text.size());
    }
}

// ---- receive data buffer ----------------------------------------------------------

void TMBFrameCore::setMBMBRXDataBufferIndex(std::uint16_t index) {
    FRXIndex = index == 0 ? 1 : (index > kMaxData ? kMaxData : index);
}

void TMBFrameCore::MBSetRXReadIndex(std::uint16_t index) {
    if (index >= 1 && index <= kMaxData)
        FRXIndex = index;
}

bool TMBFrameCore::GetBytes(int n, std::uint32_t& value) {
    const int i = FRXIndex;
    value = 0;
    if (i + n - 1 > FReceivedDataNumber)
        return false;
    const std::uint8_t* p = FAnswer + (FHeaderLength - 1) + i;
    for (int k = n - 1; k >= 0; --k)
        value = (value << 8) | p[k];
    if (i + n <= kMaxData)
        FRXIndex = static_cast<std::uint16_t>(i + n);
    return true;
}

std::uint8_t TMBFrameCore::MBGetByte() {
    std::uint32_t v;
    GetBytes(1, v);
    return static_cast<std::uint8_t>(v);
}

std::uint16_t TMBFrameCore::MBGetWord() {
    std::uint32_t v;
    GetBytes(2, v);
    return static_cast<std::uint16_t>(v);
}

std::uint32_t TMBFrameCore::MBGetLongWord() {
    std::uint32_t v;
    GetBytes(4, v);
    return v;
}

float TMBFrameCore::MBGetSingle() {
    const std::uint32_t bits = MBGetLongWord();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// ---- receivers --------------------------------------------------------------------

void TMBFrameCore::MBResetReceiver() {
    FRxStarted = false;
    FRxCount = 0;
    FRxFull = false;
    MBReceiverWasReset();
}

void TMBFrameCore::MBAppendAssembly(std::uint8_t b) {
    if (FRxCount < kRxBufferSize) {
        FRx[FRxCount++] = b;
        if (FRxCount == kRxBufferSize)
            FRxFull = true;
    }
}

void TMBFrameCore::MBCopyAssemblyAsData() {
    std::memcpy(FAnswer + FHeaderLength, FRx, FRxCount); // position 1 = first byte
    FReceivedDataNumber = FRxCount;
}

void TMBFrameCore::AcceptFrame(int overhead) {
    std::memcpy(FAnswer, FRx, FRxCount);
    FReceivedDataNumber = FRxCount > overhead ? static_cast<std::uint16_t>(FRxCount - overhead) : 0;
    MBShowReceivedCount();
    FRXIndex = 1;
    MBFrameAccepted();
}

void TMBFrameCore::MBParseReceived(const std::uint8_t* data, std::size_t n) {
    if (data == nullptr)
        return;
    std::size_t i = 0;
    while (i < n) {
        switch (FMode) {
        case modeASCIIMaster: i = ParseASCII(data, i, n, true); break;
        case modeASCIISlave: i = ParseASCII(data, i, n, false); break;
        case modeMaster:
        case modeSlave:
        case modeDiagnostic: i = ParseBinary(data, i, n); break;
        case modeByte:
        case modeString: {
            const std::size_t taken = MBReceiveUnframed(data + i, n - i);
            i += taken > 0 && taken <= n - i ? taken : n - i;
            break;
        }
        }
    }
}

std::size_t TMBFrameCore::ParseASCII(const std::uint8_t* data, std::size_t i, std::size_t n, bool master) {
    // The hot loop keeps the receiver's state in locals and writes it back
    // before any hook runs, since a hook may read it or start a new request.
    const std::uint8_t startCls = master ? kClsS : kClsM;
    bool started = FRxStarted;
    bool high = FRxHighDigit;
    std::uint8_t held = FRxHeld;
    int count = FRxCount;
    auto store = [&] {
        FRxStarted = started;
        FRxHighDigit = high;
        FRxHeld = held;
        FRxCount = static_cast<std::uint16_t>(count);
        if (count == kRxBufferSize)
            FRxFull = true;
    };
    while (i < n) {
        const std::uint8_t cls = kClass[data[i++]];
        if (cls < 16) {
            if (!started) {
                if (!master)
                    continue; // a slave hears other slaves' answers: not its business
                store();
                MBResetReceiver();
                return i;
            }
            if (high) {
                held = static_cast<std::uint8_t>(cls << 4);
                high = false;
                continue;
            }
            high = true;
            const std::uint8_t b = held | cls;
            if (count == 0) {
                const bool mine = master ? b == FMasterAddressToSlave : (b == FSlaveOwnAddress || b == 0);
                if (!mine) {
                    store();
                    MBResetReceiver();
                    return i;
                }
            }
            if (count < kRxBufferSize)
                FRx[count++] = b;
            continue;
        }
        if (cls == startCls) {
            started = true;
            high = true;
            count = 0;
            FRxFull = false;
            continue;
        }
        store();
        if (cls == kClsEnd && started && count >= 6) {
            const std::uint16_t crc = MBCRC16(FRx, static_cast<std::size_t>(count - 2));
            if (FRx[count - 2] == static_cast<std::uint8_t>(crc) && FRx[count - 1] == static_cast<std::uint8_t>(crc >> 8)) {
                AcceptFrame(6);
                return i;
            }
        }
        MBResetReceiver();
        return i;
    }
    store();
    return i;
}

std::size_t TMBFrameCore::ParseBinary(const std::uint8_t* data, std::size_t i, std::size_t n) {
    while (i < n) {
        const std::uint8_t w = data[i++];
        if (!(w & 0x40)) {
            FRxHeld = w & 0x0F;
            continue;
        }
        const std::uint8_t b = static_cast<std::uint8_t>(((w & 0x0F) << 4) | FRxHeld);
        if (w & 0x80) {
            bool ok = true;
            if (FMode == modeMaster)
                ok = (b & 0x80) && (b & 0x0F) == FMasterAddressToSlave;
            else if (FMode == modeSlave)
                ok = !(b & 0x80) && ((b & 0x0F) == (FSlaveOwnAddress & 0x0F) || (b & 0x0F) == 0);
            if (!ok) {
                MBResetReceiver();
                return i;
            }
            FRxStarted = true;
            FRx[0] = b;
            FRxCount = 1;
            FRxFull = false;
            // The monitor stays Ready while it watches; the others report it.
            if (FMode != modeDiagnostic) {
                MBBinaryFrameStarted();
                return i;
            }
            continue;
        }
        if (FRxCount == 0)
            continue;
        MBAppendAssembly(b);
        if (w & 0x20) {
            if (FRxCount >= 5) {
                const std::uint16_t crc = MBCRC16(FRx, static_cast<std::size_t>(FRxCount - 2));
                if (FRx[FRxCount - 2] == static_cast<std::uint8_t>(crc) &&
                    FRx[FRxCount - 1] == static_cast<std::uint8_t>(crc >> 8)) {
                    AcceptFrame(5);
                    return i;
                }
            }
            MBResetReceiver();
            return i;
        }
    }
    return i;
}

// ---- sending ------------------------------------------------------------------------

bool TMBFrameCore::WritePiece(const std::uint8_t* data, std::size_t n) {
    if (!MBWriteToPort(data, n)) {
        MBSendFailed();
        return false;
    }
    MBLightTLamp();
    return true;
}

bool TMBFrameCore::FlushFrame() {
    if (!MBFlushFrame()) {
        MBSendFailed();
        return false;
    }
    return true;
}

bool TMBFrameCore::MBSendFrame() {
    if (!FPortOpen) {
        MBSendRefused();
        return false;
    }
    if (!IsFramedMode())
        return SendUnframed();

    const int hl = FHeaderLength;
    std::uint8_t* f = FTXFrame;
    switch (FMode) {
    case modeASCIIMaster:
        f[0] = FMasterAddressToSlave;
        f[1] = FMasterIDToSlave;
        f[2] = FMasterCommandToSlave;
        f[3] = 0;
        break;
    case modeASCIISlave:
        f[0] = FSlaveOwnAddress;
        f[1] = FSlaveID;
        f[2] = FAnswer[2]; // the request's command, echoed
        f[3] = FSlaveErrorCode;
        break;
    case modeSlave:
        f[0] = static_cast<std::uint8_t>(128 + (FSlaveOwnAddress & 0x0F));
        f[1] = FSlaveID;
        f[2] = FSlaveErrorCode;
        break;
    default: // modeMaster, modeDiagnostic: the binary request
        f[0] = static_cast<std::uint8_t>(FMasterAddressToSlave + (FMasterQueryMode ? 64 : 0));
        f[1] = FMasterIDToSlave;
        f[2] = FMasterCommandToSlave;
        break;
    }
    const std::size_t n = FDataNumberToSend;
    std::memcpy(f + hl, FTXData + 1, n);
    const std::uint16_t crc = MBCRC16(f, hl + n);
    f[hl + n] = static_cast<std::uint8_t>(crc);
    f[hl + n + 1] = static_cast<std::uint8_t>(crc >> 8);
    const std::size_t length = hl + n + 2;

    MBShowSentCount();
    if (FMode != modeSlave)
        MBShowTID(kv::FormatPicture(f[1], "000"));

    switch (FMode) {
    case modeASCIIMaster:
        if (!SendASCII('M', length))
            return false;
        FRxStarted = false; // what came before the request is no answer to it
        return true;
    case modeASCIISlave:
        if (!SendASCII('S', length))
            return false;
        MBResetReceiver();
        return true;
    default:
        return SendBinary(length);
    }
}

bool TMBFrameCore::SendASCII(char start, std::size_t frameLength) {
    const std::uint8_t s = static_cast<std::uint8_t>(start);
    if (!WritePiece(&s, 1))
        return false;
    for (std::size_t k = 0; k < frameLength; ++k) {
        const std::uint8_t digits[2] = {static_cast<std::uint8_t>(kHexDigits[FTXFrame[k] >> 4]),
                                        static_cast<std::uint8_t>(kHexDigits[FTXFrame[k] & 0x0F])};
        if (!WritePiece(digits, 2))
            return false;
    }
    const std::uint8_t e = ';';
    return WritePiece(&e, 1) && FlushFrame();
}

bool TMBFrameCore::SendBinary(std::size_t frameLength) {
    for (std::size_t k = 0; k < frameLength; ++k) {
        const std::uint8_t b = FTXFrame[k];
        std::uint8_t hi = static_cast<std::uint8_t>(0x40 | (b >> 4));
        if (k == 0)
            hi |= 0x80;
        if (k + 1 == frameLength)
            hi |= 0x20;
        const std::uint8_t pair[2] = {static_cast<std::uint8_t>(b & 0x0F), hi};
        if (!WritePiece(pair, 2))
            return false;
    }
    return FlushFrame();
}

bool TMBFrameCore::SendUnframed() {
    for (int p = 1; p <= FDataNumberToSend; ++p)
        if (!WritePiece(FTXData + p, 1))
            return false;
    if (!FlushFrame())
        return false;
    MBShowSentCount();
    return true;
}

std::string TMBFrameCore::MBEncodeASCII(char start, const std::uint8_t* frame, std::size_t n) {
    std::string s;
    s.reserve(2 * n + 2);
    s += start;
    for (std::size_t k = 0; k < n; ++k) {
        s += kHexDigits[frame[k] >> 4];
        s += kHexDigits[frame[k] & 0x0F];
    }
    s += ';';
    return s;
}

std::string TMBFrameCore::MBEncodeBinary(const std::uint8_t* frame, std::size_t n) {
    std::string s;
    s.reserve(2 * n);
    for (std::size_t k = 0; k < n; ++k) {
        s += static_cast<char>(frame[k] & 0x0F);
        std::uint8_t hi = static_cast<std::uint8_t>(0x40 | (frame[k] >> 4));
        if (k == 0)
            hi |= 0x80;
        if (k + 1 == n)
            hi |= 0x20;
        s += static_cast<char>(hi);
    }
    return s;
}
