// Frame builders and reply recognisers against known byte strings.
#include "frames.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace lumo;
using lumo_test::Bytes;
using lumo_test::Hex;

namespace {

using Builder = std::function<size_t(unsigned char*, size_t)>;

struct BuildCase {
    const char* name;
    Builder build;
    const char* expected;
};

const BuildCase kBuildCases[] = {
    {"ZEmptyAsSaved", [](unsigned char* o, size_t c) { return ZCommandFrame(o, c, 15, u""); },
     "55 AA F8 07 02 FD 07 00 00"},
    {"ZAbcAsSaved", [](unsigned char* o, size_t c) { return ZCommandFrame(o, c, 15, u"abc"); },
     "55 AA F8 07 05 FA 07 61 62 63 00 00"},
    {"ZOverTcpId3", [](unsigned char* o, size_t c) { return ZCommandFrame(o, c, 3, u"a"); },
     "55 AA 38 C7 03 FC 07 61 00 00"},
    {"ZIdTakenModulo16", [](unsigned char* o, size_t c) { return ZCommandFrame(o, c, 0x13, u""); },
     "55 AA 38 C7 02 FD 07 00 00"},
    {"ZNonAsciiLowByte", [](unsigned char* o, size_t c) { return ZCommandFrame(o, c, 15, u"\u00E9\u4E2D"); },
     "55 AA F8 07 04 FB 07 E9 2D 00 00"},
    {"XEmpty", [](unsigned char* o, size_t c) { return XCommandFrame(o, c, u""); },
     "55 AA 5A A5 0F 00 00 02 13 00 FF 01 FE 00 20"},
    {"XAbc", [](unsigned char* o, size_t c) { return XCommandFrame(o, c, u"abc"); },
     "55 AA 5A A5 12 00 00 02 13 00 FF 01 FE 00 61 62 63 49"},
    {"XTimerTestFrame",
     [](unsigned char* o, size_t c) { return XCommandFrame(o, c, u"XL 001002001 Test 0"); },
     "55 AA 5A A5 22 00 00 02 13 00 FF 01 FE 00 58 4C 20 30 30 31 30 30 32 30 30 31 20 54 65 73 74 20 30 BB"},
    {"DisconnectId2", [](unsigned char* o, size_t c) { return DeviceCommandFrame(o, c, 2, CMD_DISCONNECT); },
     "55 AA 2F D0 01 FE 17 00"},
    {"DisconnectId18",
     [](unsigned char* o, size_t c) { return DeviceCommandFrame(o, c, 18, CMD_DISCONNECT); },
     "55 AA 2F D0 01 FE 17 00"},
    {"DeviceQuery",
     [](unsigned char* o, size_t c) { return DeviceCommandFrameAt(o, c, 0xFF, CMD_DEVICE_QUERY); },
     "55 AA FF 00 01 FE 19 00"},
    {"ModeQueryId5", [](unsigned char* o, size_t c) { return DeviceCommandFrame(o, c, 5, CMD_MODE_QUERY); },
     "55 AA 5F A0 01 FE 6D 00"},
    {"CrTextLine", [](unsigned char* o, size_t c) { return CrTextLine(o, c, u"ze 0000 0"); },
     "7A 65 20 30 30 30 30 20 30 0D"},
    {"CrTextLineEmpty", [](unsigned char* o, size_t c) { return CrTextLine(o, c, u""); }, "0D"},
    {"UdpTextDatagram", [](unsigned char* o, size_t c) { return UdpTextDatagram(o, c, u"zh\u00E9"); },
     "7A 68 E9 00"},
};

class BuildTest : public testing::TestWithParam<BuildCase> {};

} // namespace

TEST_P(BuildTest, ExactBytes) {
    const BuildCase& c = GetParam();
    const Bytes want = Hex(c.expected);
    Bytes buf(want.size() + 8, 0xEE);
    ASSERT_EQ(c.build(buf.data(), buf.size()), want.size());
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + want.size()), want);
    // Nothing is written past the frame.
    for (size_t i = want.size(); i < buf.size(); ++i)
        EXPECT_EQ(buf[i], 0xEE) << "byte " << i;
}

TEST_P(BuildTest, ExactCapacityFitsOneLessIsRefusedUntouched) {
    const BuildCase& c = GetParam();
    const Bytes want = Hex(c.expected);
    Bytes exact(want.size(), 0xEE);
    EXPECT_EQ(c.build(exact.data(), exact.size()), want.size());
    EXPECT_EQ(exact, want);

    Bytes shorter(want.size() - 1 + 4, 0xEE);
    EXPECT_EQ(c.build(shorter.data(), want.size() - 1), 0u);
    EXPECT_EQ(shorter, Bytes(shorter.size(), 0xEE));
}

INSTANTIATE_TEST_SUITE_P(Frames, BuildTest, testing::ValuesIn(kBuildCases),
                         [](const testing::TestParamInfo<BuildCase>& i) {
                             return std::string(i.param.name);
                         });

TEST(AddChecksum, SumOfPrecedingBytesModulo256) {
    unsigned char abc[4] = {'a', 'b', 'c', 0x99};
    AddChecksum(abc, 4);
    EXPECT_EQ(abc[3], 0x26);

    unsigned char one[1] = {0x42};
    AddChecksum(one, 1);
    EXPECT_EQ(one[0], 0x00);
}

TEST(ZCommandFrame, LongestTextHasLength255AndLongerIsRefused) {
    std::u16string text(Z_FRAME_MAX_TEXT, u'a');
    Bytes buf(600, 0xEE);
    ASSERT_EQ(ZCommandFrame(buf.data(), buf.size(), 1, text), size_t(Z_FRAME_MAX_TEXT + 9));
    EXPECT_EQ(buf[4], 0xFF);
    EXPECT_EQ(buf[5], 0x00);
    EXPECT_EQ(buf[7 + Z_FRAME_MAX_TEXT], 0x00);
    EXPECT_EQ(buf[8 + Z_FRAME_MAX_TEXT], 0x00);

    text.push_back(u'a');
    Bytes fresh(600, 0xEE);
    EXPECT_EQ(ZCommandFrame(fresh.data(), fresh.size(), 1, text), 0u);
    EXPECT_EQ(fresh, Bytes(600, 0xEE));
}

TEST(XCommandFrame, ConsoleAreaHolds2033TextBytesWithLengthAndChecksum) {
    std::u16string text(2033, u'x');
    Bytes buf(2048, 0);
    ASSERT_EQ(XCommandFrame(buf.data(), buf.size(), text), 2048u);
    EXPECT_EQ(buf[4] | (buf[5] << 8), 2048);
    Bytes check = buf;
    AddChecksum(check.data(), check.size());
    EXPECT_EQ(check[2047], buf[2047]);
    text.push_back(u'x');
    EXPECT_EQ(XCommandFrame(buf.data(), buf.size(), text), 0u);
}

TEST(Replies, AckHeaderAndStatus) {
    const struct {
        const char* bytes;
        int status; // -1: not an acknowledgement
    } cases[] = {
        {"00 FF 5A A5 01", 1},  {"00 FF 5A A5 00", 0}, {"00 FF 5A A5 FF", 255},
        {"01 02 03 04 05", -1}, {"00 FF 5A A5", -1},   {"00 FF 5A A4 01", -1},
    };
    for (const auto& c : cases) {
        const Bytes b = Hex(c.bytes);
        EXPECT_EQ(AckFrame(b.data(), b.size()), c.status) << c.bytes;
    }
    const Bytes h = Hex("00 FF 5A A5");
    EXPECT_TRUE(AckHeader(h.data()));
    const Bytes notH = Hex("00 FF 5A 00");
    EXPECT_FALSE(AckHeader(notH.data()));
}

TEST(Replies, DeviceInfoReplyData) {
    unsigned char data[2] = {0xEE, 0xEE};
    const Bytes good = Hex("12 34 00 FF 5A A5 01");
    ASSERT_TRUE(DeviceInfoReply(good.data(), good.size(), data));
    EXPECT_EQ(data[0], 0x12);
    EXPECT_EQ(data[1], 0x34);

    unsigned char untouched[2] = {0xEE, 0xEE};
    const Bytes bad = Hex("12 34 00 FF 5A 00 01");
    EXPECT_FALSE(DeviceInfoReply(bad.data(), bad.size(), untouched));
    const Bytes partial = Hex("12 34 00");
    EXPECT_FALSE(DeviceInfoReply(partial.data(), partial.size(), untouched));
    EXPECT_EQ(untouched[0], 0xEE);
    EXPECT_EQ(untouched[1], 0xEE);
}

TEST(Replies, ConnectGreeting) {
    const struct {
        const char* name;
        const char* bytes;
        bool xMode;
        bool accepted;
        Greeting want;
    } cases[] = {
        {"normal", "05 11 00 00 00 00 00", false, true, {5, 17, 5, 0}},
        {"normalTwoBytes", "02 30", false, true, {2, 0x30, 2, 0}},
        {"normalFFFF", "FF FF 00 00 00 00 00", false, false, {}},
        {"normalOneByte", "05", false, false, {}},
        {"empty", "", false, false, {}},
        {"x", "04 00 00 00 00 00 00 00 00 00 00 00 03 00 00 00 09", true, true, {3, 26, 4, 9}},
        {"xStyleAbove255", "01 00 00 00 00 00 00 00 00 00 00 00 07 00 FF 00 02", true, true, {7, 281, 1, 2}},
        {"xFFFF", "FF FF 00 00 00 00 00 00 00 00 00 00 03 00 00 00 09", true, false, {}},
        {"xFourteen", "04 00 00 00 00 00 00 00 00 00 00 00 03 00", true, false, {}},
        {"xShort", "04 00 00 00 00 00 00", true, false, {}},
        {"xEmpty", "", true, false, {}},
    };
    for (const auto& c : cases) {
        const Bytes b = Hex(c.bytes);
        Greeting g{-1, -1, 0xEE, 0xEE};
        ASSERT_EQ(ConnectGreeting(b.data(), b.size(), c.xMode, &g), c.accepted) << c.name;
        if (!c.accepted)
            continue;
        EXPECT_EQ(g.id, c.want.id) << c.name;
        EXPECT_EQ(g.style, c.want.style) << c.name;
        EXPECT_EQ(g.styleIndex, c.want.styleIndex) << c.name;
        EXPECT_EQ(g.socketId, c.want.socketId) << c.name;
    }
}

TEST(Replies, XGreetingGivesOutputArea031A00) {
    const Bytes b = Hex("04 00 00 00 00 00 00 00 00 00 00 00 03 00 00 00 09");
    Greeting g;
    ASSERT_TRUE(ConnectGreeting(b.data(), b.size(), true, &g));
    const unsigned char area[3] = {static_cast<unsigned char>(g.id), static_cast<unsigned char>(g.style), 0};
    EXPECT_EQ(Bytes(area, area + 3), Hex("03 1A 00"));
}

TEST(Replies, ModeQueryReply) {
    const struct {
        const char* bytes;
        bool valid;
        unsigned char mode;
    } cases[] = {
        {"55 AA 5F A0 01 FE 7A 00 00 00 00 00 00", true, 'z'},
        {"55 AA 00 FF 80 7F 41 11 22 33 44 55 66", true, 'A'},
        {"55 AB 5F A0 01 FE 7A 00 00 00 00 00 00", false, 0},
        {"54 AA 5F A0 01 FE 7A 00 00 00 00 00 00", false, 0},
        {"55 AA 5F A1 01 FE 7A 00 00 00 00 00 00", false, 0},
        {"55 AA 5F A0 01 FD 7A 00 00 00 00 00 00", false, 0},
        {"00 00 00 00 00 00 00 00 00 00 00 00 00", false, 0},
        {"55 AA 5F A0 01 FE", false, 0},
    };
    for (const auto& c : cases) {
        const Bytes b = Hex(c.bytes);
        unsigned char mode = 0xEE;
        EXPECT_EQ(ModeQueryReply(b.data(), b.size(), &mode), c.valid) << c.bytes;
        EXPECT_EQ(mode, c.valid ? c.mode : 0xEE) << c.bytes;
    }
}
