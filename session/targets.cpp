#include "targets.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link.h"

namespace session {

namespace {

constexpr char kFormHint[] = "give an address, a range A-B, a block A/N, a host name or @FILE";
constexpr size_t kMaxHostName = 253;
constexpr size_t kMaxLabel = 63;

// An inclusive run of addresses.
struct Span {
    uint32_t first = 0, last = 0;
};

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

bool AllDigits(std::string_view s) {
    return !s.empty() && s.size() <= 3 && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Digits, dots, '-' and '/' only: meant as an address, a range or a block.
bool NumericForm(std::string_view s) {
    return s.find_first_not_of("0123456789./-") == std::string_view::npos;
}

// Letters, digits and '-' in dot-separated labels, as host names are written.
bool HostNameForm(std::string_view s) {
    if (s.empty() || s.size() > kMaxHostName)
        return false;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find('.', start);
        if (end == std::string_view::npos)
            end = s.size();
        const std::string_view label = s.substr(start, end - start);
        if (label.empty() || label.size() > kMaxLabel || label.front() == '-' || label.back() == '-')
            return label.empty() && end == s.size() && start > 0; // one trailing dot is allowed
        for (char c : label)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
                return false;
        start = end + 1;
    }
    return true;
}

// An address, A-B (B an address or A's last part) or A/N; false with *why.
bool ParseSpan(std::string_view text, Span* span, std::string* why) {
    const size_t slash = text.find('/'), dash = text.find('-');
    const std::string_view head = text.substr(0, std::min(slash, dash));
    const std::optional<uint32_t> a = ParseDottedAddress(head);
    if (!a) {
        *why = "not an IPv4 address: " + Quoted(head);
        return false;
    }
    if (slash != std::string_view::npos && dash == std::string_view::npos) {
        const std::string_view bits = text.substr(slash + 1);
        if (!AllDigits(bits) || std::stoi(std::string(bits)) > 32) {
            *why = "a block takes 0 to 32 bits after '/': " + Quoted(text);
            return false;
        }
        const int n = std::stoi(std::string(bits));
        const uint32_t mask = n == 0 ? 0 : ~uint32_t{0} << (32 - n);
        *span = {*a & mask, (*a & mask) | ~mask};
        return true;
    }
    if (dash != std::string_view::npos && slash == std::string_view::npos) {
        const std::string_view tail = text.substr(dash + 1);
        std::optional<uint32_t> b = ParseDottedAddress(tail);
        if (!b && AllDigits(tail) && std::stoi(std::string(tail)) <= 255)
            b = (*a & 0xFFFFFF00u) | static_cast<uint32_t>(std::stoi(std::string(tail)));
        if (!b) {
            *why = "a range ends in an address or a number up to 255: " + Quoted(text);
            return false;
        }
        if (*b < *a) {
            *why = "the range runs backwards: " + Quoted(text);
            return false;
        }
        *span = {*a, *b};
        return true;
    }
    if (slash == std::string_view::npos) {
        *span = {*a, *a};
        return true;
    }
    *why = "not a target: " + Quoted(text) + " (" + kFormHint + ")";
    return false;
}

class Reader {
public:
    explicit Reader(const HostResolver& resolve) : m_Resolve(resolve) {}

    // One text; where ("FILE:LINE: ") prefixes its errors. inFile: @ is refused.
    bool Take(std::string_view text, const std::string& where, bool inFile);
    TargetList Finish();

private:
    bool Fail(TargetProblem problem, std::string error) {
        m_Out.problem = problem;
        m_Out.error = std::move(error);
        return false;
    }
    bool Add(const Span& span, const std::string& where, std::string_view text);
    bool TakeFile(const std::string& path);

    const HostResolver& m_Resolve;
    TargetList m_Out;
};

bool Reader::Add(const Span& span, const std::string& where, std::string_view text) {
    const uint64_t count = uint64_t{span.last} - span.first + 1;
    if (m_Out.addresses.size() + count > kMaxTargets)
        return Fail(TargetProblem::Usage, where + "more than " + std::to_string(kMaxTargets) +
                                              " addresses with " + Quoted(text) + "; give smaller ranges");
    for (uint64_t a = span.first; a <= span.last; ++a)
        m_Out.addresses.push_back(static_cast<uint32_t>(a));
    return true;
}

bool Reader::Take(std::string_view text, const std::string& where, bool inFile) {
    if (text.starts_with('@')) {
        if (inFile)
            return Fail(TargetProblem::Usage, where + "a target file cannot name another: " + Quoted(text));
        if (text.size() == 1)
            return Fail(TargetProblem::Usage, "'@' needs a file name");
        return TakeFile(std::string(text.substr(1)));
    }
    std::string why;
    if (!TargetFormOk(text, &why))
        return Fail(TargetProblem::Usage, where + why);
    Span span;
    if (NumericForm(text)) {
        ParseSpan(text, &span, &why); // TargetFormOk has parsed it
        return Add(span, where, text);
    }
    const std::optional<uint32_t> address = m_Resolve(std::string(text), &why);
    if (!address)
        return Fail(TargetProblem::Usage, where + "cannot resolve " + Quoted(text) + ": " + why);
    return Add({*address, *address}, where, text);
}

bool Reader::TakeFile(const std::string& path) {
    const bool standardInput = path == "-";
    std::FILE* f = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    std::string text;
    if (f) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
    }
    const int error = !f ? errno : std::ferror(f) ? (errno ? errno : EIO) : 0;
    if (f && !standardInput)
        std::fclose(f);
    const std::string name = standardInput ? "(standard input)" : path;
    if (error != 0)
        return Fail(TargetProblem::NoInput, "cannot read " + name + ": " + std::strerror(error));
    int lineNo = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        ++lineNo;
        line = line.substr(0, line.find('#'));
        const std::string where = name + ":" + std::to_string(lineNo) + ": ";
        for (size_t at = 0;;) {
            at = line.find_first_not_of(" \t\r", at);
            if (at == std::string_view::npos)
                break;
            const size_t stop = std::min(line.find_first_of(" \t\r", at), line.size());
            if (!Take(line.substr(at, stop - at), where, true))
                return false;
            at = stop;
        }
    }
    return true;
}

TargetList Reader::Finish() {
    if (!m_Out.ok()) {
        m_Out.addresses.clear();
        return std::move(m_Out);
    }
    // each address once, where it came first
    std::vector<uint32_t>& list = m_Out.addresses;
    std::vector<std::pair<uint32_t, uint32_t>> byAddress(list.size());
    for (size_t i = 0; i < list.size(); ++i)
        byAddress[i] = {list[i], static_cast<uint32_t>(i)};
    std::sort(byAddress.begin(), byAddress.end());
    std::vector<bool> keep(list.size(), false);
    for (size_t i = 0; i < byAddress.size(); ++i)
        if (i == 0 || byAddress[i].first != byAddress[i - 1].first)
            keep[byAddress[i].second] = true;
    size_t kept = 0;
    for (size_t i = 0; i < list.size(); ++i)
        if (keep[i])
            list[kept++] = list[i];
    list.resize(kept);
    return std::move(m_Out);
}

} // namespace

bool TargetFormOk(std::string_view text, std::string* why) {
    if (text.empty()) {
        *why = "an empty target";
        return false;
    }
    if (text.starts_with('@'))
        return true;
    if (NumericForm(text)) {
        Span span;
        return ParseSpan(text, &span, why);
    }
    if (HostNameForm(text))
        return true;
    *why = "not a target: " + Quoted(text) + " (" + kFormHint + ")";
    return false;
}

TargetList ReadTargets(const std::vector<std::string>& texts, const HostResolver& resolve) {
    Reader reader(resolve);
    for (const std::string& text : texts)
        if (!reader.Take(text, "", false))
            break;
    return reader.Finish();
}

std::string DottedAddress(uint32_t a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
    return text;
}

} // namespace session
