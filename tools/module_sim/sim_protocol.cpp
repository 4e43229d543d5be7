#include "sim_protocol.h"

#include "frames.h"

#include <algorithm>
#include <cstdio>

namespace modsim {

namespace {

constexpr uint8_t START0 = 0x55;
constexpr uint8_t START1 = 0xAA;
constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;
constexpr size_t X_TEXT_OFFSET = 14;
constexpr size_t Z_TEXT_OFFSET = 7;

uint8_t BinaryAddress(const SimConfig &cfg) {
    return lumo::DeviceAddress(cfg.id, 0x0F);
}

Bytes ToBytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

void Append(Bytes &out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}

// Text answer as lines (data line first for a query command).
Bytes LineAnswer(std::string_view text, const SimConfig &cfg) {
    Bytes out;
    if (char letter = QueryLetter(text)) {
        Append(out, DataLine(letter, cfg));
        Append(out, "\r\n");
    }
    Append(out, AckLine(text));
    return out;
}

Bytes Oversize() {
    static constexpr char PATTERN[] = "0123456789ABCDEF";
    Bytes out(OVERSIZE_LEN);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(PATTERN[i % 16]);
    return out;
}

Bytes WithoutLineFeeds(Bytes b) {
    b.erase(std::remove(b.begin(), b.end(), LF), b.end());
    return b;
}

// Answer to a text command arriving in a Z or X frame.
Bytes FrameTextAnswer(std::string_view text, const SimConfig &cfg) {
    if (cfg.Has(MIS_OVERSIZE))
        return Oversize();
    Bytes out;
    char letter = QueryLetter(text);
    if (letter && cfg.EndMarkMode()) {
        Append(out, DataLine(letter, cfg));
        out.insert(out.end(), std::begin(lumo::ACK_OK), std::end(lumo::ACK_OK));
        return out;
    }
    out = LineAnswer(text, cfg);
    return cfg.Has(MIS_NOLF) ? WithoutLineFeeds(std::move(out)) : out;
}

// Answer to a carriage-return line: the serial console strings, else a text command.
Bytes LineUnitAnswer(std::string_view line, const SimConfig &cfg) {
    Bytes out;
    if (line.empty())
        out = ToBytes("\r\n>");
    else if (line == "ze 0000 0" || line == "ze 0000 1" || line == "*0")
        out = ToBytes("O.K\r\n>");
    else if (line == "exit")
        out = ToBytes("O.K\r\n");
    else if (cfg.Has(MIS_OVERSIZE))
        return Oversize();
    else
        out = LineAnswer(line, cfg);
    return cfg.Has(MIS_NOLF) ? WithoutLineFeeds(std::move(out)) : out;
}

} // namespace

unsigned MisbehaveFromName(std::string_view name) {
    static constexpr struct {
        std::string_view name;
        unsigned bit;
    } NAMES[] = {
        {"silent", MIS_SILENT}, {"x14", MIS_X14},
        {"ffff", MIS_FFFF},     {"empty-greeting", MIS_EMPTY_GREETING},
        {"chunks", MIS_CHUNKS}, {"reset", MIS_RESET},
        {"nolf", MIS_NOLF},     {"oversize", MIS_OVERSIZE},
    };
    for (const auto &n : NAMES)
        if (n.name == name)
            return n.bit;
    return 0;
}

bool IsQueryCommand(std::string_view text) {
    return QueryLetter(text) != 0;
}

char QueryLetter(std::string_view text) {
    if (text.size() < 2 || (text[0] != 'z' && text[0] != 'Z'))
        return 0;
    switch (text[1]) {
    case 'h':
    case 'H':
        return 'h';
    case 's':
    case 'S':
        return 's';
    case 'w':
    case 'W':
        if (text.size() < 9)
            return 0;
        for (size_t i = 3; i < 9; ++i)
            if (text[i] != '0')
                return 0;
        return 'w';
    default:
        return 0;
    }
}

std::string AckLine(std::string_view text) {
    std::string shown(text.substr(0, ECHO_MAX));
    for (char &c : shown) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '.';
    }
    return "OK: command " + shown + " done\r\n";
}

std::string DataLine(char letter, const SimConfig &cfg) {
    switch (letter) {
    case 'h':
        return "Device ID " + std::to_string(cfg.id) + " Style " + std::to_string(cfg.style) + " Ver 1.00";
    case 's':
        return "Signal 1920x1080 60Hz";
    case 'w':
        return "Position 0 0 1920 1080";
    default:
        return {};
    }
}

Bytes Greeting(const SimConfig &cfg) {
    if (cfg.Has(MIS_SILENT) || cfg.Has(MIS_EMPTY_GREETING))
        return {};
    Bytes g;
    if (cfg.xMode || cfg.Has(MIS_X14)) {
        g.assign(lumo::X_GREETING_LEN, 0);
        g[0] = static_cast<uint8_t>(cfg.id);
        g[12] = static_cast<uint8_t>(cfg.id);
        g[14] = static_cast<uint8_t>(cfg.style - 26); // the reader adds 26 back
        g[16] = static_cast<uint8_t>(cfg.socketId);
        if (cfg.Has(MIS_X14))
            g.resize(14);
    } else {
        g.assign(lumo::GREETING_LEN, 0);
        g[0] = static_cast<uint8_t>(cfg.id);
        g[1] = static_cast<uint8_t>(cfg.style);
    }
    if (cfg.Has(MIS_FFFF))
        g[0] = g[1] = 0xFF;
    return g;
}

Bytes ModeQueryReply(const SimConfig &cfg) {
    Bytes r(lumo::MODE_QUERY_REPLY_LEN, 0);
    uint8_t a = BinaryAddress(cfg);
    r[0] = START0;
    r[1] = START1;
    r[2] = a;
    r[3] = static_cast<uint8_t>(0xFF - a);
    r[4] = 0x01;
    r[5] = 0xFE;
    r[6] = static_cast<uint8_t>(cfg.modeChar);
    return r;
}

Bytes DeviceInfoReply(const SimConfig &cfg) {
    Bytes r{cfg.deviceInfo[0], cfg.deviceInfo[1]};
    r.insert(r.end(), std::begin(lumo::ACK_OK), std::end(lumo::ACK_OK));
    return r;
}

Bytes AckOk() {
    return Bytes(std::begin(lumo::ACK_OK), std::end(lumo::ACK_OK));
}

void StreamCutter::Feed(const uint8_t *data, size_t n) {
    m_Buf.insert(m_Buf.end(), data, data + n);
}

bool StreamCutter::Next(Unit *out) {
    for (;;) {
        // Line feeds after a CR and the zeros of a datagram-style text end are not units.
        size_t skip = 0;
        while (skip < m_Buf.size() && (m_Buf[skip] == LF || m_Buf[skip] == 0x00))
            ++skip;
        m_Buf.erase(m_Buf.begin(), m_Buf.begin() + static_cast<std::ptrdiff_t>(skip));
        if (m_Buf.empty())
            return false;

        const Bytes &b = m_Buf;
        size_t frameLen = 0; // 0: not a frame, read as a line
        bool wait = false;
        Unit u;
        if (b[0] == START0) {
            if (b.size() < 2) {
                wait = true;
            } else if (b[1] == START1) {
                if (b.size() < 4) {
                    wait = true;
                } else if (b[2] == 0x5A && b[3] == 0xA5) {
                    if (b.size() < 6) {
                        wait = true;
                    } else {
                        size_t t = b[4] | (size_t(b[5]) << 8);
                        if (t < X_TEXT_OFFSET + 1) {
                            // Not a frame the module knows: drop its header and go on.
                            m_Buf.erase(m_Buf.begin(), m_Buf.begin() + 6);
                            continue;
                        }
                        if (b.size() < t) {
                            wait = true;
                        } else {
                            frameLen = t;
                            u.kind = Unit::X_TEXT;
                            u.text.assign(b.begin() + X_TEXT_OFFSET,
                                          b.begin() + static_cast<std::ptrdiff_t>(t - 1));
                            uint8_t sum = 0;
                            for (size_t i = 0; i + 1 < t; ++i)
                                sum = static_cast<uint8_t>(sum + b[i]);
                            u.checksumOk = sum == b[t - 1];
                        }
                    }
                } else if (b[2] + b[3] == 0xFF) {
                    if (b.size() < 6) {
                        wait = true;
                    } else if (b[4] + b[5] != 0xFF || b[4] == 0) {
                        m_Buf.erase(m_Buf.begin(), m_Buf.begin() + 6);
                        continue;
                    } else {
                        size_t l = b[4];
                        size_t t = 6 + l + 1;
                        if (b.size() < t) {
                            wait = true;
                        } else {
                            frameLen = t;
                            u.address = b[2];
                            u.code = b[6];
                            if (u.code == lumo::CMD_TEXT && l >= 2) {
                                u.kind = Unit::Z_TEXT;
                                auto first = b.begin() + Z_TEXT_OFFSET;
                                auto last = b.begin() + static_cast<std::ptrdiff_t>(6 + l);
                                u.text.assign(first, std::find(first, last, uint8_t{0}));
                            } else {
                                u.kind = l == 1 ? Unit::DEVICE_CMD : Unit::OTHER_FRAME;
                            }
                        }
                    }
                }
            }
        }
        if (wait)
            return false;
        if (frameLen == 0) {
            auto cr = std::find(m_Buf.begin(), m_Buf.end(), CR);
            if (cr == m_Buf.end()) {
                if (m_Buf.size() > LINE_MAX_BYTES)
                    m_Buf.clear(); // nobody ends this line; keep memory bounded
                return false;
            }
            u.kind = Unit::LINE;
            u.text.assign(m_Buf.begin(), cr);
            frameLen = static_cast<size_t>(cr - m_Buf.begin()) + 1;
        }
        u.raw.assign(m_Buf.begin(), m_Buf.begin() + static_cast<std::ptrdiff_t>(frameLen));
        m_Buf.erase(m_Buf.begin(), m_Buf.begin() + static_cast<std::ptrdiff_t>(frameLen));
        *out = std::move(u);
        return true;
    }
}

Bytes Answer(const Unit &unit, const SimConfig &cfg) {
    if (cfg.Has(MIS_SILENT))
        return {};
    switch (unit.kind) {
    case Unit::DEVICE_CMD:
        if (unit.code == lumo::CMD_DEVICE_QUERY)
            return DeviceInfoReply(cfg);
        if (unit.code == lumo::CMD_MODE_QUERY && cfg.style == 17)
            return ModeQueryReply(cfg);
        return AckOk(); // disconnect and every other code
    case Unit::OTHER_FRAME:
        return AckOk();
    case Unit::Z_TEXT:
    case Unit::X_TEXT:
        return FrameTextAnswer(unit.text, cfg);
    case Unit::LINE:
        return LineUnitAnswer(unit.text, cfg);
    }
    return {};
}

Bytes DatagramAnswer(const uint8_t *data, size_t n, const SimConfig &cfg) {
    if (cfg.Has(MIS_SILENT))
        return {};
    if (cfg.Has(MIS_OVERSIZE))
        return Oversize();
    const uint8_t *end = std::find(data, data + n, uint8_t{0});
    Bytes out = LineAnswer(std::string_view(reinterpret_cast<const char *>(data), size_t(end - data)), cfg);
    return cfg.Has(MIS_NOLF) ? WithoutLineFeeds(std::move(out)) : out;
}

std::vector<Bytes> Pieces(const Bytes &reply, const SimConfig &cfg) {
    if (!cfg.Has(MIS_CHUNKS) || cfg.chunk <= 0 || reply.size() <= size_t(cfg.chunk))
        return {reply};
    std::vector<Bytes> out;
    for (size_t i = 0; i < reply.size(); i += size_t(cfg.chunk)) {
        size_t n = std::min(size_t(cfg.chunk), reply.size() - i);
        out.emplace_back(reply.begin() + static_cast<std::ptrdiff_t>(i),
                         reply.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    return out;
}

std::string Hex(const uint8_t *data, size_t n) {
    std::string s;
    s.reserve(n * 3);
    char tmp[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(tmp, sizeof tmp, i ? " %02X" : "%02X", data[i]);
        s += tmp;
    }
    return s;
}

} // namespace modsim
