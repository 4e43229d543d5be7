// Answer logic of the simulated module: classification, texts, stream cutting.
#include "sim_protocol.h"

#include <gtest/gtest.h>

using namespace modsim;

namespace {

Bytes B(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
Bytes Cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const Bytes ACK = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

std::vector<Unit> CutAll(const Bytes &stream, bool byteByByte) {
    StreamCutter c;
    std::vector<Unit> out;
    Unit u;
    if (byteByByte) {
        for (uint8_t b : stream) {
            c.Feed(&b, 1);
            while (c.Next(&u))
                out.push_back(u);
        }
    } else {
        c.Feed(stream.data(), stream.size());
        while (c.Next(&u))
            out.push_back(u);
    }
    return out;
}

} // namespace

TEST(SimClassify, QueryCommands) {
    struct {
        const char *text;
        char letter;
    } rows[] = {
        {"zh", 'h'},         {"ZH", 'h'},        {"zs", 's'},
        {"ZS", 's'},         {"zw 000000", 'w'}, {"zwx000000", 'w'},
        {"Zw 0000001", 'w'}, {"zw 000001", 0},   {"zw", 0},
        {"zw 00000", 0},     {"z", 0},           {"", 0},
        {"ah", 0},           {"zx", 0},          {"hz", 0},
        {"ze 0000 0", 0},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(QueryLetter(r.text), r.letter) << r.text;
        EXPECT_EQ(IsQueryCommand(r.text), r.letter != 0) << r.text;
    }
}

TEST(SimTexts, AckAndDataLines) {
    EXPECT_EQ(AckLine("abc"), "OK: command abc done\r\n");
    EXPECT_EQ(AckLine(std::string("a\nb\rc\x01", 6)), "OK: command a.b.c. done\r\n");
    EXPECT_EQ(AckLine(std::string(1000, 'q')).size(), std::string("OK: command  done\r\n").size() + ECHO_MAX);
    SimConfig cfg;
    cfg.id = 4;
    cfg.style = 9;
    EXPECT_EQ(DataLine('h', cfg), "Device ID 4 Style 9 Ver 1.00");
    EXPECT_EQ(DataLine('s', cfg), "Signal 1920x1080 60Hz");
    EXPECT_EQ(DataLine('w', cfg), "Position 0 0 1920 1080");
    // A data line must never read as an acknowledgement.
    for (char l : {'h', 's', 'w'})
        EXPECT_EQ(DataLine(l, cfg).find("ommand"), std::string::npos);
}

TEST(SimGreeting, Variants) {
    struct {
        const char *what;
        bool xMode;
        unsigned mis;
        Bytes expect;
    } rows[] = {
        {"normal", false, 0, {0x05, 0x11, 0, 0, 0, 0, 0}},
        {"x", true, 0, {0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0, 0xF7, 0, 0x09}},
        {"x14", false, MIS_X14, {0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0}},
        {"ffff", false, MIS_FFFF, {0xFF, 0xFF, 0, 0, 0, 0, 0}},
        {"silent", false, MIS_SILENT, {}},
        {"empty", true, MIS_EMPTY_GREETING, {}},
    };
    for (const auto &r : rows) {
        SimConfig cfg;
        cfg.id = 5;
        cfg.style = 17;
        cfg.socketId = 9;
        cfg.xMode = r.xMode;
        cfg.misbehave = r.mis;
        EXPECT_EQ(Greeting(cfg), r.expect) << r.what;
    }
}

TEST(SimCutter, FramesAndLines) {
    const Bytes zEmpty = {0x55, 0xAA, 0xF8, 0x07, 0x02, 0xFD, 0x07, 0x00, 0x00};
    const Bytes zAbc = {0x55, 0xAA, 0x38, 0xC7, 0x05, 0xFA, 0x07, 'a', 'b', 'c', 0x00, 0x00};
    const Bytes xAbc = {0x55, 0xAA, 0x5A, 0xA5, 0x12, 0x00, 0x00, 0x02, 0x13,
                        0x00, 0xFF, 0x01, 0xFE, 0x00, 'a',  'b',  'c',  0x49};
    Bytes xBad = xAbc;
    xBad.back() = 0x48;
    const Bytes devQuery = {0x55, 0xAA, 0xFF, 0x00, 0x01, 0xFE, 0x19, 0x00};
    const Bytes disc = {0x55, 0xAA, 0x2F, 0xD0, 0x01, 0xFE, 0x17, 0x00};

    struct Expect {
        Unit::Kind kind;
        std::string text;
        uint8_t code;
    };
    struct {
        const char *what;
        Bytes stream;
        std::vector<Expect> units;
    } rows[] = {
        {"empty Z", zEmpty, {{Unit::Z_TEXT, "", 0x07}}},
        {"Z abc", zAbc, {{Unit::Z_TEXT, "abc", 0x07}}},
        {"X abc", xAbc, {{Unit::X_TEXT, "abc", 0}}},
        {"device query + disconnect",
         Cat(devQuery, disc),
         {{Unit::DEVICE_CMD, "", 0x19}, {Unit::DEVICE_CMD, "", 0x17}}},
        {"CR lines, LF skipped",
         B("\rze 0000 0\r\nabc\r"),
         {{Unit::LINE, "", 0}, {Unit::LINE, "ze 0000 0", 0}, {Unit::LINE, "abc", 0}}},
        {"line then frame", Cat(B("zh 1\r"), zAbc), {{Unit::LINE, "zh 1", 0}, {Unit::Z_TEXT, "abc", 0x07}}},
        {"bad length pair dropped",
         Cat({0x55, 0xAA, 0x38, 0xC7, 0x05, 0x05}, zAbc),
         {{Unit::Z_TEXT, "abc", 0x07}}},
        {"unterminated line waits", B("abc"), {}},
        {"half frame waits", Bytes(zAbc.begin(), zAbc.end() - 1), {}},
    };
    for (const auto &r : rows) {
        for (bool bytewise : {false, true}) {
            auto units = CutAll(r.stream, bytewise);
            ASSERT_EQ(units.size(), r.units.size()) << r.what << " bytewise=" << bytewise;
            for (size_t i = 0; i < units.size(); ++i) {
                EXPECT_EQ(units[i].kind, r.units[i].kind) << r.what << " #" << i;
                EXPECT_EQ(units[i].text, r.units[i].text) << r.what << " #" << i;
                if (units[i].kind == Unit::DEVICE_CMD || units[i].kind == Unit::Z_TEXT) {
                    EXPECT_EQ(units[i].code, r.units[i].code) << r.what << " #" << i;
                }
            }
        }
    }
    auto bad = CutAll(xBad, false);
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_FALSE(bad[0].checksumOk);
    EXPECT_TRUE(CutAll(xAbc, false)[0].checksumOk);
}

TEST(SimCutter, LongUnterminatedLineIsDropped) {
    StreamCutter c;
    Bytes junk(LINE_MAX_BYTES + 10, 'x');
    c.Feed(junk.data(), junk.size());
    Unit u;
    EXPECT_FALSE(c.Next(&u));
    EXPECT_EQ(c.Pending(), 0u);
    c.Feed(reinterpret_cast<const uint8_t *>("ok\r"), 3);
    ASSERT_TRUE(c.Next(&u));
    EXPECT_EQ(u.text, "ok");
}

TEST(SimAnswer, PerUnitAndMode) {
    auto unit = [](Unit::Kind k, std::string text, uint8_t code = 0) {
        Unit u;
        u.kind = k;
        u.text = std::move(text);
        u.code = code;
        return u;
    };
    const std::string hData = "Device ID 1 Style 17 Ver 1.00";
    struct {
        const char *what;
        char modeChar;
        unsigned mis;
        Unit unit;
        Bytes expect;
    } rows[] = {
        {"mode query",
         'z',
         0,
         unit(Unit::DEVICE_CMD, "", 0x6D),
         {0x55, 0xAA, 0x1F, 0xE0, 0x01, 0xFE, 'z', 0, 0, 0, 0, 0, 0}},
        {"device query",
         'z',
         0,
         unit(Unit::DEVICE_CMD, "", 0x19),
         {0x12, 0x34, 0x00, 0xFF, 0x5A, 0xA5, 0x01}},
        {"disconnect", 'z', 0, unit(Unit::DEVICE_CMD, "", 0x17), ACK},
        {"other code", 'z', 0, unit(Unit::DEVICE_CMD, "", 0x42), ACK},
        {"Z normal", 'z', 0, unit(Unit::Z_TEXT, "abc"), B("OK: command abc done\r\n")},
        {"Z query, mode z", 'z', 0, unit(Unit::Z_TEXT, "zh"), Cat(B(hData), ACK)},
        {"X query, mode z", 'z', 0, unit(Unit::X_TEXT, "zw 000000"), Cat(B("Position 0 0 1920 1080"), ACK)},
        {"Z query, mode y", 'y', 0, unit(Unit::Z_TEXT, "zh"), B(hData + "\r\nOK: command zh done\r\n")},
        {"line query", 'z', 0, unit(Unit::LINE, "zs"), B("Signal 1920x1080 60Hz\r\nOK: command zs done\r\n")},
        {"bare CR", 'z', 0, unit(Unit::LINE, ""), B("\r\n>")},
        {"ze 0000 0", 'z', 0, unit(Unit::LINE, "ze 0000 0"), B("O.K\r\n>")},
        {"ze 0000 1", 'z', 0, unit(Unit::LINE, "ze 0000 1"), B("O.K\r\n>")},
        {"*0", 'z', 0, unit(Unit::LINE, "*0"), B("O.K\r\n>")},
        {"exit", 'z', 0, unit(Unit::LINE, "exit"), B("O.K\r\n")},
        {"nolf line", 'z', MIS_NOLF, unit(Unit::LINE, "zs"),
         B("Signal 1920x1080 60Hz\rOK: command zs done\r")},
        {"nolf prompt", 'z', MIS_NOLF, unit(Unit::LINE, ""), B("\r>")},
        {"silent", 'z', MIS_SILENT, unit(Unit::DEVICE_CMD, "", 0x17), {}},
        {"silent line", 'z', MIS_SILENT, unit(Unit::LINE, ""), {}},
    };
    for (const auto &r : rows) {
        SimConfig cfg;
        cfg.modeChar = r.modeChar;
        cfg.misbehave = r.mis;
        EXPECT_EQ(Answer(r.unit, cfg), r.expect) << r.what;
    }

    SimConfig over;
    over.misbehave = MIS_OVERSIZE;
    Bytes big = Answer(unit(Unit::Z_TEXT, "zh"), over);
    EXPECT_EQ(big.size(), OVERSIZE_LEN);
    EXPECT_EQ(std::find(big.begin(), big.end(), 0x0A), big.end());
    EXPECT_EQ(std::search(big.begin(), big.end(), ACK.begin(), ACK.begin() + 4), big.end());

    SimConfig style5;
    style5.style = 5;
    EXPECT_EQ(Answer(unit(Unit::DEVICE_CMD, "", 0x6D), style5), ACK);
    EXPECT_EQ(Answer(unit(Unit::Z_TEXT, "zh"), style5),
              B("Device ID 1 Style 5 Ver 1.00\r\nOK: command zh done\r\n"));
}

TEST(SimAnswer, Datagrams) {
    SimConfig cfg;
    const Bytes normal = {'a', 'b', 'c', 0x00};
    const Bytes query = {'z', 'H', 0x00, 'x'};
    EXPECT_EQ(DatagramAnswer(normal.data(), normal.size(), cfg), B("OK: command abc done\r\n"));
    EXPECT_EQ(DatagramAnswer(query.data(), query.size(), cfg),
              B("Device ID 1 Style 17 Ver 1.00\r\nOK: command zH done\r\n"));
    EXPECT_EQ(DatagramAnswer(normal.data(), 1, cfg), B("OK: command a done\r\n"));
    const uint8_t zero = 0;
    EXPECT_EQ(DatagramAnswer(&zero, 1, cfg), B("OK: command  done\r\n"));
}

TEST(SimPieces, Chunking) {
    SimConfig cfg;
    Bytes seven = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(Pieces(seven, cfg).size(), 1u);
    cfg.misbehave = MIS_CHUNKS;
    cfg.chunk = 3;
    auto p = Pieces(seven, cfg);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], (Bytes{1, 2, 3}));
    EXPECT_EQ(p[2], (Bytes{7}));
}

TEST(SimMisbehave, Names) {
    EXPECT_EQ(MisbehaveFromName("silent"), MIS_SILENT);
    EXPECT_EQ(MisbehaveFromName("empty-greeting"), MIS_EMPTY_GREETING);
    EXPECT_EQ(MisbehaveFromName("oversize"), MIS_OVERSIZE);
    EXPECT_EQ(MisbehaveFromName("bogus"), 0u);
}
