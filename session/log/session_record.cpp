#include "session_record.h"

#include <algorithm>
#include <cstdio>

namespace session {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendBytes(std::string& out, const std::vector<uint8_t>& b) {
    out += HexBytes(b);
    if (!b.empty())
        out += ' ';
    out += '|';
    out += PrintableText(b);
    out += '|';
}

} // namespace

const char* KindWord(RecordKind kind) {
    switch (kind) {
    case RecordKind::Tx:
        return "tx";
    case RecordKind::Rx:
        return "rx";
    case RecordKind::Link:
        return "link";
    case RecordKind::Progress:
        return "progress";
    case RecordKind::Box:
        return "box";
    case RecordKind::Send:
        return "send";
    case RecordKind::Test:
        return "test";
    }
    return "?";
}

std::string HexBytes(const uint8_t* p, size_t n) {
    std::string out;
    if (n == 0)
        return out;
    out.resize(n * 3 - 1, ' ');
    for (size_t i = 0; i < n; ++i) {
        out[i * 3] = kHexDigits[p[i] >> 4];
        out[i * 3 + 1] = kHexDigits[p[i] & 0x0F];
    }
    return out;
}

std::string PrintableText(const uint8_t* p, size_t n) {
    std::string out(n, '.');
    for (size_t i = 0; i < n; ++i)
        if (p[i] >= 0x20 && p[i] < 0x7F)
            out[i] = static_cast<char>(p[i]);
    return out;
}

std::string Quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += kHexDigits[c >> 4];
                out += kHexDigits[c & 0x0F];
            } else {
                out += ch; // UTF-8 above 0x7F passes as it is
            }
        }
    }
    out += '"';
    return out;
}

std::string CsvField(std::string_view s) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(s);
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

std::string StampText(const LocalStamp& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.ms);
    return buf;
}

std::string FormatLine(const Record& r, std::string_view stamp) {
    std::string line;
    line.reserve(48 + r.link.size() + r.text.size() + r.note.size() + 4 * (r.bytes.size() + r.answer.size()));
    line += stamp;
    line += ' ';
    line += KindWord(r.kind);
    line += ' ';
    line += r.link.empty() ? std::string_view("-") : std::string_view(r.link);
    line += ' ';
    switch (r.kind) {
    case RecordKind::Tx:
    case RecordKind::Rx:
        appendBytes(line, r.bytes);
        if (!r.note.empty()) {
            line += ' ';
            line += r.note;
        }
        break;
    case RecordKind::Link:
    case RecordKind::Test:
    case RecordKind::Progress: {
        // one line whatever the text holds, without quotes around it
        const std::string q = Quoted(r.text);
        line.append(q, 1, q.size() - 2);
        break;
    }
    case RecordKind::Box:
        line += Quoted(r.note);
        line += ' ';
        line += Quoted(r.text);
        break;
    case RecordKind::Send:
        line += Quoted(r.text);
        line += ' ';
        line += r.note;
        line += "; sent ";
        appendBytes(line, r.bytes);
        line += "; answer ";
        appendBytes(line, r.answer);
        break;
    }
    return line;
}

std::string DisplayText(const Record& r, size_t maxBytes) {
    auto bytesText = [maxBytes](const std::vector<uint8_t>& b) {
        std::string t = PrintableText(b.data(), std::min(b.size(), maxBytes));
        if (b.size() > maxBytes)
            t += "...";
        return t;
    };
    switch (r.kind) {
    case RecordKind::Tx:
    case RecordKind::Rx:
        return r.note.empty() ? bytesText(r.bytes) : bytesText(r.bytes) + "  (" + r.note + ")";
    case RecordKind::Box:
        return r.note + ": " + r.text;
    case RecordKind::Send:
        return Quoted(r.text) + " " + r.note;
    default:
        return r.text;
    }
}

} // namespace session
