// Frames of the link: CRC, wire codings, data buffer rules and the receivers.
#include "core_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace coretest;

namespace {

TEST(Crc, CheckValues) {
    EXPECT_EQ(MBCRC16("abc"), 0x5749);
    EXPECT_EQ(MBCRC16("123456789"), 0x4B37);
    EXPECT_EQ(MBCRC16(Bytes({1, 0, 5, 0})), 0x8802);
    EXPECT_EQ(MBCRC16(""), 0xFFFF);
}

// ---- sending ---------------------------------------------------------------------

TEST(Send, AsciiRequestInSeparatePieces) {
    CaptureCore c;
    c.Open();
    c.setMBMasterCommandToSlave(5);
    ASSERT_TRUE(c.MBSendFrame());
    EXPECT_EQ(c.wire, "M010005000288;");
    ASSERT_EQ(c.pieces.size(), 2u + 6u);
    EXPECT_EQ(c.pieces[0], "M");
    EXPECT_EQ(c.pieces[1], "01");
    EXPECT_EQ(c.pieces.back(), ";");
    EXPECT_EQ(c.tlamps, 8);
    EXPECT_EQ(c.tid, "000");
}

TEST(Send, BinaryRequestTwoWireBytesPerWrite) {
    CaptureCore c;
    c.setMBMode(modeMaster);
    c.Open();
    c.setMBMasterCommandToSlave(5);
    ASSERT_TRUE(c.MBSendFrame());
    EXPECT_EQ(c.wire, Bytes({0x01, 0xC0, 0x00, 0x40, 0x05, 0x40, 0x00, 0x4E, 0x03, 0x60}));
    EXPECT_EQ(c.pieces.size(), 5u);
    c.wire.clear();
    c.setMBMasterQueryMode(true);
    c.setMBMasterIDToSlave(7);
    c.MBSendFrame();
    EXPECT_EQ(c.wire, Binary(Frame({65, 7, 5})));
    EXPECT_EQ(c.tid, "007");
}

TEST(Send, FramesOfEveryModeCarryTheirHeader) {
    struct Case {
        TMBMode mode;
        std::string want;
    };
    // Data 0xAB 0xCD; master address 3, ID 4, command 9; slave address 18 (binary
    // keeps its low four bits), slave ID 6, error code 2; the ASCII answer echoes
    // the command of the last request taken (none yet: 0).
    const Case cases[] = {
        {modeASCIIMaster, Ascii('M', Frame({3, 4, 9, 0, 0xAB, 0xCD}))},
        {modeASCIISlave, Ascii('S', Frame({18, 6, 0, 2, 0xAB, 0xCD}))},
        {modeMaster, Binary(Frame({3, 4, 9, 0xAB, 0xCD}))},
        {modeDiagnostic, Binary(Frame({3, 4, 9, 0xAB, 0xCD}))},
        {modeSlave, Binary(Frame({128 + 2, 6, 2, 0xAB, 0xCD}))},
        {modeByte, Bytes({0xAB, 0xCD})},
        {modeString, Bytes({0xAB, 0xCD})},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.mode);
        CaptureCore c;
        c.setMBMode(k.mode);
        c.Open();
        c.setMBMasterAddressToSlave(3);
        c.setMBMasterIDToSlave(4);
        c.setMBMasterCommandToSlave(9);
        c.setMBSlaveOwnAddress(18);
        c.setMBSlaveID(6);
        c.setMBSlaveErrorCode(2);
        c.MBPutWord(0xCDAB);
        EXPECT_TRUE(c.MBSendFrame());
        EXPECT_EQ(c.wire, k.want);
    }
}

TEST(Send, ClosedPortWritesNothingAndFailedPieceStops) {
    CaptureCore c;
    EXPECT_FALSE(c.MBSendFrame());
    EXPECT_EQ(c.refused, 1);
    EXPECT_TRUE(c.wire.empty());
    c.Open();
    c.failAtPiece = 3;
    EXPECT_FALSE(c.MBSendFrame());
    EXPECT_EQ(c.failed, 1);
    EXPECT_EQ(c.wire, "M0100");
    EXPECT_EQ(c.tlamps, 3);
}

TEST(Send, LargestFrameAndResendUnchanged) {
    CaptureCore c;
    c.Open();
    c.setMBDataNumberToSend(60000);
    EXPECT_EQ(c.MBDataNumberToSend(), 8187);
    ASSERT_TRUE(c.MBSendFrame());
    EXPECT_EQ(c.wire.size(), 2u * (8187 + 6) + 2);
    const std::string first = c.wire;
    c.wire.clear();
    c.MBSendFrame();
    EXPECT_EQ(c.wire, first);
}

// ---- data buffers ------------------------------------------------------------------

TEST(Put, WordThenByteAndOverwrite) {
    CaptureCore c;
    c.MBTXBufferClear();
    c.MBPutWord(0x1234);
    c.MBPutByte(7);
    EXPECT_EQ(c.MBTXDataAt(1), 0x34);
    EXPECT_EQ(c.MBTXDataAt(2), 0x12);
    EXPECT_EQ(c.MBTXDataAt(3), 0x07);
    EXPECT_EQ(c.MBDataNumberToSend(), 3);
    EXPECT_EQ(c.MBMBTXDataBufferIndex(), 4);
    c.setMBMBTXDataBufferIndex(1);
    c.MBPutByte(9);
    EXPECT_EQ(c.MBTXDataAt(1), 9);
    EXPECT_EQ(c.MBDataNumberToSend(), 3);
    EXPECT_EQ(c.MBMBTXDataBufferIndex(), 2);
    c.MBPutSingle(1.5f);
    c.MBPutLongInt(-2);
    EXPECT_EQ(c.MBTXDataAt(5), 0x3F); // 1.5f = 0x3FC00000
    EXPECT_EQ(c.MBTXDataAt(6), 0xFE);
    EXPECT_EQ(c.MBTXDataAt(9), 0xFF);
    EXPECT_EQ(c.MBDataNumberToSend(), 9);
}

TEST(Put, BoundariesAtTheEndOfTheBuffer) {
    struct Case {
        int index, n;                // start index and put width
        bool written;                // bytes land
        int indexAfter, countAfter;  // with the count 0 before
    };
    const Case cases[] = {
        {8184, 4, true, 8184, 0},  // i + n = 8188: written, not counted
        {8183, 4, true, 8187, 8186},
        {8185, 4, false, 8185, 0},
        {8187, 1, true, 8187, 0},
        {8186, 1, true, 8187, 8186},
        {8186, 2, true, 8186, 0},
        {8187, 2, false, 8187, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.index << "+" << k.n);
        CaptureCore c;
        c.setMBMBTXDataBufferIndex(static_cast<std::uint16_t>(k.index));
        if (k.n == 1)
            c.MBPutByte(0xEE);
        else if (k.n == 2)
            c.MBPutWord(0xEEEE);
        else
            c.MBPutLongWord(0xEEEEEEEE);
        EXPECT_EQ(c.MBTXDataAt(k.index), k.written ? 0xEE : 0);
        EXPECT_EQ(c.MBMBTXDataBufferIndex(), k.indexAfter);
        EXPECT_EQ(c.MBDataNumberToSend(), k.countAfter);
    }
}

TEST(Put, StringBoundariesAndTerminator) {
    CaptureCore c;
    c.MBPutString("MB");
    EXPECT_EQ(c.MBDataNumberToSend(), 3);
    EXPECT_EQ(c.MBMBTXDataBufferIndex(), 4);
    EXPECT_EQ(c.MBTXDataAt(3), 0);

    c.setMBMBTXDataBufferIndex(8185); // 2 + 1 bytes end at 8187: i + n = 8188
    c.MBPutString("xy");
    EXPECT_EQ(c.MBTXDataAt(8186), 'y');
    EXPECT_EQ(c.MBMBTXDataBufferIndex(), 8187); // resting on the 0
    EXPECT_EQ(c.MBDataNumberToSend(), 3);

    c.setMBMBTXDataBufferIndex(8184);
    c.MBPutString("xy"); // ends at 8186: counted
    EXPECT_EQ(c.MBMBTXDataBufferIndex(), 8187);
    EXPECT_EQ(c.MBDataNumberToSend(), 8186);

    c.setMBMBTXDataBufferIndex(8186);
    c.MBPutString("zz"); // does not fit: nothing
    EXPECT_EQ(c.MBTXDataAt(8186), 0);
    EXPECT_EQ(c.MBTXDataAt(8187), 0);
    EXPECT_EQ(c.MBMBTXDataBufferIndex(), 8186);
}

TEST(Put, IndexAndCountSettersClamp) {
    CaptureCore c;
    const std::pair<int, int> cases[] = {{0, 1}, {1, 1}, {8187, 8187}, {8188, 8187}, {65535, 8187}};
    for (auto [in, want] : cases) {
        c.setMBMBTXDataBufferIndex(static_cast<std::uint16_t>(in));
        c.setMBMBRXDataBufferIndex(static_cast<std::uint16_t>(in));
        EXPECT_EQ(c.MBMBTXDataBufferIndex(), want);
        EXPECT_EQ(c.MBMBRXDataBufferIndex(), want);
    }
    c.MBSetRXReadIndex(5);
    c.MBSetRXReadIndex(0);
    c.MBSetRXReadIndex(8188);
    EXPECT_EQ(c.MBMBRXDataBufferIndex(), 5);
    c.setMBSlaveOwnAddress(0);
    EXPECT_EQ(c.MBSlaveOwnAddress(), 1);
}

TEST(Get, ValuesAndTheEndOfTheReceivedData) {
    CaptureCore c;
    // Answer with 7 data bytes: 34 12 | 78 56 34 12 | 99
    c.MBParseReceived(Ascii('S', Frame({1, 0, 5, 0, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x99})));
    ASSERT_EQ(c.accepts, 1);
    EXPECT_EQ(c.MBReceivedDataNumber(), 7);
    EXPECT_EQ(c.MBGetWord(), 0x1234);
    EXPECT_EQ(c.MBGetLongWord(), 0x12345678u);
    EXPECT_EQ(c.MBMBRXDataBufferIndex(), 7);
    EXPECT_EQ(c.MBGetWord(), 0); // would read position 8
    EXPECT_EQ(c.MBMBRXDataBufferIndex(), 7);
    EXPECT_EQ(c.MBGetByte(), 0x99);
    EXPECT_EQ(c.MBGetByte(), 0);

    c.MBSetRXReadIndex(5); // = received - 2: a long word does not fit
    EXPECT_EQ(c.MBGetLongWord(), 0u);
    EXPECT_EQ(c.MBMBRXDataBufferIndex(), 5);
    c.MBSetRXReadIndex(3);
    EXPECT_EQ(c.MBGetLongInt(), 0x12345678);
}

TEST(Get, SingleAndSignedTwin) {
    CaptureCore c;
    c.MBParseReceived(Ascii('S', Frame({1, 0, 5, 0, 0x00, 0x00, 0xC0, 0x3F, 0xFE, 0xFF, 0xFF, 0xFF})));
    EXPECT_EQ(c.MBGetSingle(), 1.5f);
    EXPECT_EQ(c.MBGetLongInt(), -2);
}

// ---- receivers -----------------------------------------------------------------------

struct RxCase {
    const char* name;
    TMBMode mode;
    std::string input;
    int accepts;
    int resetsAtLeast;
    int dataNumber; // after the input, -1: not checked
};

TEST(Receive, FramedModesTable) {
    const std::string good = Ascii('S', Frame({1, 0, 5, 0, 0xAA}));
    std::string lower = good;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    lower[0] = 'S';
    std::string badCrc = good;
    badCrc[badCrc.size() - 2] = badCrc[badCrc.size() - 2] == '0' ? '1' : '0';
    const RxCase cases[] = {
        {"ascii answer", modeASCIIMaster, good, 1, 0, 1},
        {"noise then answer", modeASCIIMaster, "xyz\r\n" + good, 1, 5, 1},
        {"lower case dropped", modeASCIIMaster, lower, 0, 1, 0},
        {"bad crc", modeASCIIMaster, badCrc, 0, 1, 0},
        {"other address", modeASCIIMaster, Ascii('S', Frame({2, 0, 5, 0})), 0, 1, 0},
        {"short frame", modeASCIIMaster, "S0100;", 0, 1, 0},
        {"request start resets master", modeASCIIMaster, Ascii('M', Frame({1, 0, 5, 0})), 0, 1, 0},
        {"answer twice", modeASCIIMaster, good + good, 2, 0, 1},
        {"restart mid-frame", modeASCIIMaster, "S0100" + good, 1, 0, 1},
        {"slave takes request", modeASCIISlave, Ascii('M', Frame({1, 0, 5, 0})), 1, 0, 0},
        {"slave takes broadcast", modeASCIISlave, Ascii('M', Frame({0, 0, 5, 0})), 1, 0, 0},
        {"slave ignores stray digits", modeASCIISlave, "0102" + Ascii('M', Frame({1, 0, 5, 0})), 1, 0, 0},
        {"slave resets on answer", modeASCIISlave, Ascii('S', Frame({1, 0, 5, 0})), 0, 1, 0},
        {"binary answer", modeMaster, Binary(Frame({0x81, 0, 0, 7})), 1, 0, 1},
        {"binary request echo resets", modeMaster, Binary(Frame({0x01, 0, 5})), 0, 1, 0},
        {"binary other address", modeMaster, Binary(Frame({0x82, 0, 0})), 0, 1, 0},
        {"binary short", modeMaster, Binary(Bytes({0x81, 0, 0, 0})), 0, 1, 0},
        {"binary slave request", modeSlave, Binary(Frame({0x01, 0, 5})), 1, 0, 0},
        {"binary slave broadcast", modeSlave, Binary(Frame({0x40, 0, 5})), 1, 0, 0},
        {"binary slave answer resets", modeSlave, Binary(Frame({0x81, 0, 5})), 0, 1, 0},
        {"diagnostic both ways", modeDiagnostic, Binary(Frame({0x81, 0, 0})) + Binary(Frame({0x05, 1, 2, 3})), 2, 0, 1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        CaptureCore c;
        c.setMBMode(k.mode);
        c.MBParseReceived(k.input);
        EXPECT_EQ(c.accepts, k.accepts);
        EXPECT_GE(c.resets, k.resetsAtLeast);
        if (k.resetsAtLeast == 0) {
            EXPECT_EQ(c.resets, 0);
        }
        if (k.dataNumber >= 0) {
            EXPECT_EQ(c.MBReceivedDataNumber(), k.dataNumber);
        }
    }
}

TEST(Receive, ChunkBoundariesDoNotMatter) {
    const std::string ascii = Ascii('S', Frame({1, 0, 5, 0, 1, 2, 3}));
    const std::string binary = Binary(Frame({0x81, 0, 0, 1, 2, 3}));
    for (auto [mode, wire] : {std::pair{modeASCIIMaster, ascii}, std::pair{modeMaster, binary}}) {
        CaptureCore c;
        c.setMBMode(mode);
        for (char ch : wire)
            c.MBParseReceived(std::string(1, ch));
        EXPECT_EQ(c.accepts, 1);
        EXPECT_EQ(c.MBReceivedDataNumber(), 3);
        EXPECT_EQ(c.MBGetByte(), 1);
    }
}

TEST(Receive, BinaryStartIsReported) {
    CaptureCore c;
    c.setMBMode(modeMaster);
    c.MBParseReceived(Bytes({0x01, 0xC8}));
    EXPECT_EQ(c.starts, 1);
    EXPECT_EQ(c.MBNumberOfReceivedBytes(), 1);
    c.setMBMode(modeDiagnostic); // the monitor does not report starts
    c.MBParseReceived(Bytes({0x01, 0xC8}));
    EXPECT_EQ(c.starts, 1);
}

TEST(Receive, AddressesAndTheirClamps) {
    CaptureCore c;
    c.setMBMasterAddressToSlave(200);
    EXPECT_EQ(c.MBMasterAddressToSlave(), 200);
    c.MBParseReceived(Ascii('S', Frame({200, 0, 1, 0})));
    EXPECT_EQ(c.accepts, 1);
    c.setMBMode(modeMaster);
    c.setMBMasterAddressToSlave(200);
    EXPECT_EQ(c.MBMasterAddressToSlave(), 15);
    c.MBParseReceived(Binary(Frame({0x8F, 0, 0})));
    EXPECT_EQ(c.accepts, 2);

    c.setMBMode(modeSlave);
    c.setMBSlaveOwnAddress(18); // binary: only the low four bits count
    c.MBParseReceived(Binary(Frame({0x02, 0, 5})));
    EXPECT_EQ(c.accepts, 3);
}

TEST(Receive, AssemblyBufferFullDropsTheRest) {
    CaptureCore c;
    c.MBParseReceived("S01");
    std::string digits;
    for (int k = 0; k < 8191; ++k)
        digits += "7E";
    c.MBParseReceived(digits);
    EXPECT_EQ(c.MBNumberOfReceivedBytes(), 8192);
    EXPECT_TRUE(c.MBRxBufferFull());
    c.MBParseReceived("AB");
    EXPECT_EQ(c.MBNumberOfReceivedBytes(), 8192);
    EXPECT_EQ(c.MBAssemblyBytes()[8191], 0x7E);
    c.MBParseReceived(";");
    EXPECT_EQ(c.accepts, 0);
    EXPECT_FALSE(c.MBRxBufferFull());
}

TEST(Receive, LargestAnswerIsAccepted) {
    std::string f = Bytes({1, 0, 5, 0});
    for (int k = 0; k < 8186; ++k)
        f += static_cast<char>(k);
    CaptureCore c;
    c.MBParseReceived(Ascii('S', [&] {
        std::string s = f;
        const std::uint16_t crc = MBCRC16(s);
        s += static_cast<char>(crc & 0xFF);
        s += static_cast<char>(crc >> 8);
        return s;
    }()));
    ASSERT_EQ(c.accepts, 1);
    EXPECT_EQ(c.MBReceivedDataNumber(), 8186);
    c.MBSetRXReadIndex(8186);
    EXPECT_EQ(c.MBGetByte(), static_cast<std::uint8_t>(8185));
}

TEST(Receive, EndCharacterAloneNeverTakesAFrameAgain) {
    CaptureCore c;
    c.Open();
    c.MBParseReceived(Ascii('S', Frame({1, 0, 5, 0})));
    ASSERT_EQ(c.accepts, 1);
    c.MBSendFrame(); // the next request: what was assembled before is no answer to it
    c.MBParseReceived(";");
    EXPECT_EQ(c.accepts, 1);
}

TEST(Receive, EmptyAndNullChunksAreIgnored) {
    CaptureCore c;
    c.MBParseReceived(nullptr, 5);
    c.MBParseReceived("");
    EXPECT_EQ(c.resets, 0);
}

} // namespace
