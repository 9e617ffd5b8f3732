#pragma once
// TMBFrameCore: the link's frames without I/O, clock or toolkit.
//
// It owns the transmit data buffer (what the application puts before a
// request), the receive side (assembly buffer, answer buffer, receive data
// buffer with its gets), the frame fields, the CRC, both wire codings, the
// sender and the five framed receivers (ASCII master and slave, binary master
// and slave, diagnostic). Everything it needs from the world, and everything it
// reports, goes through protected virtual hooks that the engine (MBEngine.h)
// and, through it, the panel implement. Tests and fuzzers subclass it directly.
#include "MBTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// CRC-16 of the link (register 0xFFFF, reflected polynomial 0xA001, no final
// xor); it travels low byte first.
std::uint16_t MBCRC16(const std::uint8_t* data, std::size_t n);
inline std::uint16_t MBCRC16(std::string_view s) {
    return MBCRC16(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

class TMBFrameCore {
public:
    // Data positions 1..kMaxData in both data buffers.
    static constexpr int kMaxData = 8187;
    // Decoded bytes of one received frame (header, data and CRC).
    static constexpr int kRxBufferSize = 8192;
    // Largest frame: 4-byte header, kMaxData data bytes, 2 CRC bytes.
    static constexpr int kTxFrameSize = 4 + kMaxData + 2;

    TMBFrameCore();
    virtual ~TMBFrameCore();
    TMBFrameCore(const TMBFrameCore&) = delete;
    TMBFrameCore& operator=(const TMBFrameCore&) = delete;

    // ---- mode -------------------------------------------------------------
    TMBMode MBMode() const { return FMode; }
    // Here: the mode and its header length only. The engine overrides it with
    // every other effect of a mode assignment. Values outside TMBMode are
    // ignored.
    virtual void setMBMode(TMBMode mode);
    // 4 in the ASCII modes, 3 in all others.
    int MBHeaderLength() const { return FHeaderLength; }
    bool MBPortOpen() const { return FPortOpen; }

    // ---- transmit data buffer ---------------------------------------------
    void MBTXBufferClear();
    void MBPutByte(std::uint8_t value);
    void MBPutWord(std::uint16_t value);
    void MBPutLongWord(std::uint32_t value);
    void MBPutLongInt(std::int32_t value) { MBPutLongWord(static_cast<std::uint32_t>(value)); }
    void MBPutSingle(float value);
    void MBPutString(std::string_view text);

    std::uint16_t MBMBTXDataBufferIndex() const { return FTXIndex; }
    void setMBMBTXDataBufferIndex(std::uint16_t index);
    std::uint16_t MBDataNumberToSend() const { return FDataNumberToSend; }
    void setMBDataNumberToSend(std::uint16_t count);
    // Data position p (1..kMaxData) of the transmit data buffer; 0 outside.
    std::uint8_t MBTXDataAt(int p) const { return (p >= 1 && p <= kMaxData) ? FTXData[p] : 0; }

    // ---- receive data buffer ----------------------------------------------
    std::uint8_t MBGetByte();
    std::uint16_t MBGetWord();
    std::uint32_t MBGetLongWord();
    std::int32_t MBGetLongInt() { return static_cast<std::int32_t>(MBGetLongWord()); }
    float MBGetSingle();
    // Taken only if 1..kMaxData, otherwise ignored.
    void MBSetRXReadIndex(std::uint16_t index);

    std::uint16_t MBMBRXDataBufferIndex() const { return FRXIndex; }
    void setMBMBRXDataBufferIndex(std::uint16_t index);
    std::uint16_t MBReceivedDataNumber() const { return FReceivedDataNumber; }
    std::uint16_t MBNumberOfReceivedBytes() const { return FRxCount; }
    bool MBRxBufferFull() const { return FRxFull; }
    // The last accepted frame from its first byte (header, data, CRC).
    const std::uint8_t* MBAnswerBytes() const { return FAnswer; }
    // The frame being assembled.
    const std::uint8_t* MBAssemblyBytes() const { return FRx; }

    // ---- frame fields -----------------------------------------------------
    std::uint8_t MBMasterAddressToSlave() const { return FMasterAddressToSlave; }
    void setMBMasterAddressToSlave(std::uint8_t v);
    std::uint8_t MBMasterIDToSlave() const { return FMasterIDToSlave; }
    void setMBMasterIDToSlave(std::uint8_t v) { FMasterIDToSlave = v; }
    std::uint8_t MBMasterCommandToSlave() const { return FMasterCommandToSlave; }
    void setMBMasterCommandToSlave(std::uint8_t v) { FMasterCommandToSlave = v; }
    bool MBMasterQueryMode() const { return FMasterQueryMode; }
    void setMBMasterQueryMode(bool v) { FMasterQueryMode = v; }
    std::uint8_t MBSlaveOwnAddress() const { return FSlaveOwnAddress; }
    void setMBSlaveOwnAddress(std::uint8_t v) { FSlaveOwnAddress = v == 0 ? 1 : v; }
    std::uint8_t MBSlaveID() const { return FSlaveID; }
    void setMBSlaveID(std::uint8_t v) { FSlaveID = v; }
    std::uint8_t MBSlaveErrorCode() const { return FSlaveErrorCode; }
    void setMBSlaveErrorCode(std::uint8_t v) { FSlaveErrorCode = v; }

    // ---- sending and receiving --------------------------------------------
    // Composes the frame of the current mode around the transmit data and
    // writes it in pieces through MBWriteToPort, then MBFlushFrame. Returns
    // true when every piece was written; false when the port was not open (MBSendRefused) or a piece
    // failed (MBSendFailed).
    bool MBSendFrame();
    // One received chunk, in arrival order. Safe for any bytes and any length;
    // hooks may change the mode or start a request in the middle of a chunk,
    // and the rest of the chunk then goes to the receiver of the new state.
    void MBParseReceived(const std::uint8_t* data, std::size_t n);
    void MBParseReceived(std::string_view s) {
        MBParseReceived(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    }
    // No frame started, assembly count 0, MBRxBufferFull false; then
    // MBReceiverWasReset.
    void MBResetReceiver();

    // The wire form of a frame (for tests, tools and the simulator).
    static std::string MBEncodeASCII(char start, const std::uint8_t* frame, std::size_t n);
    static std::string MBEncodeBinary(const std::uint8_t* frame, std::size_t n);

protected:
    // ---- hooks (no-op defaults) --------------------------------------------
    // Writes one piece to the port; false when it could not be written. A
    // port may gather the pieces and write them at MBFlushFrame.
    virtual bool MBWriteToPort(const std::uint8_t* data, std::size_t n);
    // Every piece of the frame has been handed to MBWriteToPort; false when
    // the frame could not be written after all (sending then fails).
    virtual bool MBFlushFrame() { return true; }
    // Sending found the port closed (nothing was written).
    virtual void MBSendRefused() {}
    // A piece could not be written; sending stopped there.
    virtual void MBSendFailed() {}
    // Display: T lamp after each piece, the frame's ID on the T line ("000"),
    // the data count of the frame composed, the data count of a frame taken.
    virtual void MBLightTLamp() {}
    virtual void MBShowTID(const std::string& /*text*/) {}
    virtual void MBShowSentCount() {}
    virtual void MBShowReceivedCount() {}
    // Receiver outcomes.
    virtual void MBReceiverWasReset() {}
    virtual void MBBinaryFrameStarted() {}
    // The frame is in the answer buffer, MBReceivedDataNumber set, read index 1.
    virtual void MBFrameAccepted() {}
    // modeByte and modeString: the bytes as they come. Returns how many it
    // took (normally all).
    virtual std::size_t MBReceiveUnframed(const std::uint8_t* /*data*/, std::size_t n) { return n; }

    // ---- for the layers above ---------------------------------------------
    void setMBPortOpen(bool open) { FPortOpen = open; }
    // Assembly count and MBRxBufferFull cleared, without MBReceiverWasReset.
    void MBClearAssembly() {
        FRxCount = 0;
        FRxFull = false;
    }
    // Appends to the assembly buffer (dropped when full).
    void MBAppendAssembly(std::uint8_t b);
    // Copies the whole assembly buffer to the receive data buffer (position 1
    // = first byte) and sets MBReceivedDataNumber to the count: the unframed
    // modes' copy.
    void MBCopyAssemblyAsData();
    // Overwrites one byte of the answer buffer (an ID error recorded in place).
    void MBSetAnswerByte(int offset, std::uint8_t b) {
        if (offset >= 0 && offset < kAnswerSize)
            FAnswer[offset] = b;
    }

private:
    static constexpr int kAnswerSize = kRxBufferSize + 8;

    bool PutBytes(const std::uint8_t* bytes, int n);
    bool GetBytes(int n, std::uint32_t& value);
    void AcceptFrame(int overhead);
    bool IsFramedMode() const;
    // Per-mode receivers: consume bytes from i on and return the index after
    // the last byte taken; they stop right after any hook call so that the
    // caller can re-dispatch on a changed mode.
    std::size_t ParseASCII(const std::uint8_t* data, std::size_t i, std::size_t n, bool master);
    std::size_t ParseBinary(const std::uint8_t* data, std::size_t i, std::size_t n);
    bool SendASCII(char start, std::size_t frameLength);
    bool SendBinary(std::size_t frameLength);
    bool SendUnframed();
    bool WritePiece(const std::uint8_t* data, std::size_t n);
    bool FlushFrame();

    TMBMode FMode = modeASCIIMaster;
    int FHeaderLength = 4;
    bool FPortOpen = false;

    std::uint8_t FTXData[kMaxData + 1] = {};  // [0] unused: positions are 1-based
    std::uint8_t FTXFrame[kTxFrameSize] = {};
    std::uint16_t FTXIndex = 1;
    std::uint16_t FDataNumberToSend = 0;

    std::uint8_t FRx[kRxBufferSize] = {};
    std::uint16_t FRxCount = 0;
    bool FRxFull = false;
    bool FRxStarted = false;
    bool FRxHighDigit = true;
    std::uint8_t FRxHeld = 0;      // the high nibble (ASCII) or low nibble (binary) held
    std::uint8_t FAnswer[kAnswerSize] = {};
    std::uint16_t FReceivedDataNumber = 0;
    std::uint16_t FRXIndex = 1;

    std::uint8_t FMasterAddressToSlave = 1;
    std::uint8_t FMasterIDToSlave = 0;
    std::uint8_t FMasterCommandToSlave = 0;
    bool FMasterQueryMode = false;
    std::uint8_t FSlaveOwnAddress = 1;
    std::uint8_t FSlaveID = 0;
    std::uint8_t FSlaveErrorCode = 0;
};
