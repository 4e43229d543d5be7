// Expectations matched without RE2 (see pattern.h), for builds where RE2 is
// not at hand (Windows): RE2's syntax for what a command list needs, compiled
// into an automaton and run as a set of states (Thompson's construction, a
// Pike machine without captures), so a search takes time linear in the
// answer whatever the pattern. Neither the parser nor the search recurses:
// nesting depth costs memory only.
//
// Understood: literals; . [...] [^...] with ranges, escapes and [:name:]
// classes; \d \D \w \W \s \S \b \B \A \z \Q...\E; \n \r \t \f \v \a \xHH
// \x{H...}; escaped punctuation; ^ $; groups ( ) (?: ) (?P<name> ) (?<name> );
// flags (?i) (?s) (?m) (?U) and (?flags:...); | ; * + ? {n} {n,} {n,m} and
// their lazy forms (a search for a match does not care which). Anything else
// is refused with a reason, as RE2 would refuse or read it differently.
#include "pattern.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "utf8.h"

namespace lumo_cli {
namespace {

constexpr int kMaxRepeat = 1000;              // RE2's limit for {n,m}
constexpr size_t kMaxInstructions = 1 << 20;  // a program beyond this is refused

struct Range {
    char32_t lo, hi;
};

enum class Op : uint8_t { Class, Split, Jump, Assert, Match };
enum class Where : uint8_t { TextStart, TextEnd, LineStart, LineEnd, WordBoundary, NotWordBoundary };

// Jumps are relative (target = own index + offset), so a piece of program can
// be moved or copied as it is.
struct Inst {
    Op op = Op::Match;
    Where where = Where::TextStart;
    bool negated = false;
    int32_t x = 1, y = 1; // Split: both ways; Jump: x
    uint32_t ranges = 0;  // Class: index into the class table
};

struct Flags {
    bool fold = false, dotNewline = false, multiLine = false;
};

bool IsWord(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

void AddFolded(std::vector<Range>& out, Range r) {
    out.push_back(r);
    const char32_t lo = std::max<char32_t>(r.lo, 'a'), hi = std::min<char32_t>(r.hi, 'z');
    if (lo <= hi)
        out.push_back({lo - 32, hi - 32});
    const char32_t ulo = std::max<char32_t>(r.lo, 'A'), uhi = std::min<char32_t>(r.hi, 'Z');
    if (ulo <= uhi)
        out.push_back({ulo + 32, uhi + 32});
}

// The ranges of a Perl class letter (d, w, s) or a POSIX class name.
bool NamedRanges(const std::u32string& name, std::vector<Range>& out) {
    struct Named {
        const char* name;
        std::vector<Range> ranges;
    };
    static const Named table[] = {
        {"d", {{'0', '9'}}},
        {"w", {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}},
        {"s", {{'\t', '\n'}, {'\f', '\r'}, {' ', ' '}}},
        {"alnum", {{'0', '9'}, {'A', 'Z'}, {'a', 'z'}}},
        {"alpha", {{'A', 'Z'}, {'a', 'z'}}},
        {"ascii", {{0, 0x7F}}},
        {"blank", {{'\t', '\t'}, {' ', ' '}}},
        {"cntrl", {{0, 0x1F}, {0x7F, 0x7F}}},
        {"digit", {{'0', '9'}}},
        {"graph", {{'!', '~'}}},
        {"lower", {{'a', 'z'}}},
        {"print", {{' ', '~'}}},
        {"punct", {{'!', '/'}, {':', '@'}, {'[', '`'}, {'{', '~'}}},
        {"space", {{'\t', '\r'}, {' ', ' '}}},
        {"upper", {{'A', 'Z'}}},
        {"word", {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}},
        {"xdigit", {{'0', '9'}, {'A', 'F'}, {'a', 'f'}}},
    };
    for (const Named& n : table)
        if (std::u32string(n.name, n.name + std::char_traits<char>::length(n.name)) == name) {
            out.insert(out.end(), n.ranges.begin(), n.ranges.end());
            return true;
        }
    return false;
}

// The complement of sorted, merged ranges within U+0000..U+10FFFF.
std::vector<Range> Complement(std::vector<Range> in) {
    std::sort(in.begin(), in.end(), [](Range a, Range b) { return a.lo < b.lo; });
    std::vector<Range> out;
    char32_t next = 0;
    for (Range r : in) {
        if (r.lo > next)
            out.push_back({next, r.lo - 1});
        next = std::max<char32_t>(next, r.hi + 1);
    }
    if (next <= 0x10FFFF)
        out.push_back({next, 0x10FFFF});
    return out;
}

class Compiler {
public:
    Compiler(std::u32string text, std::vector<std::vector<Range>>* classes) : m_Text(std::move(text)), m_Classes(classes) {}

    bool Run(std::vector<Inst>* program, std::string* error);

private:
    struct Group {
        size_t start;                 // first instruction of the group
        std::vector<size_t> branches; // first instruction of each branch after the first
        Flags outer;                  // flags to restore at its end
    };

    bool Fail(const std::string& why) {
        m_Error = why;
        return false;
    }
    char32_t Peek(size_t ahead = 0) const { return m_Pos + ahead < m_Text.size() ? m_Text[m_Pos + ahead] : 0; }
    bool More() const { return m_Pos < m_Text.size(); }

    void Emit(Inst i) { m_Prog.push_back(i); }
    void EmitClass(std::vector<Range> ranges, bool negated) {
        Inst i;
        i.op = Op::Class;
        i.negated = negated;
        i.ranges = static_cast<uint32_t>(m_Classes->size());
        m_Classes->push_back(std::move(ranges));
        Emit(i);
    }
    void EmitLiteral(char32_t c) {
        std::vector<Range> r;
        if (m_Flags.fold)
            AddFolded(r, {c, c});
        else
            r.push_back({c, c});
        EmitClass(std::move(r), false);
    }
    void EmitAssert(Where w) {
        Inst i;
        i.op = Op::Assert;
        i.where = w;
        Emit(i);
    }

    bool ParseEscape(bool inClass, std::vector<Range>* ranges, bool* negated, char32_t* literal);
    bool ParseClass();
    bool ParseGroupOpen();
    bool CloseBranches(Group& g);
    bool ParseRepeat(char32_t op);
    bool ReadCount(int* n);

    std::u32string m_Text;
    std::vector<std::vector<Range>>* m_Classes;
    size_t m_Pos = 0;
    std::vector<Inst> m_Prog;
    std::vector<Group> m_Groups;
    Flags m_Flags;
    size_t m_AtomStart = SIZE_MAX; // start of the last atom, SIZE_MAX when none may be repeated
    std::string m_Error;
};

bool Compiler::ParseEscape(bool inClass, std::vector<Range>* ranges, bool* negated, char32_t* literal) {
    ++m_Pos; // the backslash
    if (!More())
        return Fail("trailing \\");
    const char32_t c = m_Text[m_Pos++];
    auto hex = [](char32_t h) -> int {
        if (h >= '0' && h <= '9')
            return static_cast<int>(h - '0');
        if (h >= 'a' && h <= 'f')
            return static_cast<int>(h - 'a' + 10);
        if (h >= 'A' && h <= 'F')
            return static_cast<int>(h - 'A' + 10);
        return -1;
    };
    switch (c) {
    case 'd': case 'w': case 's': case 'D': case 'W': case 'S': {
        const char32_t lower = c | 0x20;
        NamedRanges(std::u32string(1, lower), *ranges);
        *negated = c != lower;
        return true;
    }
    case 'n': *literal = '\n'; return true;
    case 'r': *literal = '\r'; return true;
    case 't': *literal = '\t'; return true;
    case 'f': *literal = '\f'; return true;
    case 'v': *literal = '\v'; return true;
    case 'a': *literal = '\a'; return true;
    case 'x': {
        char32_t v = 0;
        if (Peek() == '{') {
            ++m_Pos;
            int digits = 0;
            for (; More() && Peek() != '}'; ++m_Pos, ++digits) {
                const int h = hex(Peek());
                if (h < 0 || v > 0x10FFFF)
                    return Fail("invalid escape sequence: \\x{");
                v = v * 16 + static_cast<char32_t>(h);
            }
            if (!More() || digits == 0 || v > 0x10FFFF)
                return Fail("invalid escape sequence: \\x{");
            ++m_Pos;
        } else {
            const int h1 = hex(Peek()), h2 = hex(Peek(1));
            if (h1 < 0 || h2 < 0)
                return Fail("invalid escape sequence: \\x");
            v = static_cast<char32_t>(h1 * 16 + h2);
            m_Pos += 2;
        }
        *literal = v;
        return true;
    }
    default:
        break;
    }
    if (c < 0x80 && !IsWord(c)) { // escaped punctuation stands for itself
        *literal = c;
        return true;
    }
    (void)inClass;
    std::string shown = "\\";
    lumo::AppendUtf8(shown, c);
    return Fail("invalid escape sequence: " + shown);
}

bool Compiler::ParseClass() {
    ++m_Pos; // [
    bool negated = false;
    if (Peek() == '^') {
        negated = true;
        ++m_Pos;
    }
    std::vector<Range> ranges;
    bool first = true;
    for (;;) {
        if (!More())
            return Fail("missing closing ]");
        char32_t c = Peek();
        if (c == ']' && !first)
            break;
        first = false;
        if (c == '[' && Peek(1) == ':') {
            const size_t close = m_Text.find(U":]", m_Pos + 2);
            if (close != std::u32string::npos) {
                std::u32string name = m_Text.substr(m_Pos + 2, close - m_Pos - 2);
                const bool neg = !name.empty() && name[0] == '^';
                std::vector<Range> named;
                if (!NamedRanges(neg ? name.substr(1) : name, named))
                    return Fail("invalid character class range");
                if (neg)
                    named = Complement(named);
                ranges.insert(ranges.end(), named.begin(), named.end());
                m_Pos = close + 2;
                continue;
            }
        }
        char32_t lo;
        if (c == '\\') {
            std::vector<Range> set;
            bool setNegated = false;
            lo = 0x110000;
            if (!ParseEscape(true, &set, &setNegated, &lo))
                return false;
            if (lo == 0x110000) { // a class escape such as \d inside [...]
                if (setNegated)
                    set = Complement(set);
                ranges.insert(ranges.end(), set.begin(), set.end());
                continue;
            }
        } else {
            lo = c;
            ++m_Pos;
        }
        char32_t hi = lo;
        if (Peek() == '-' && Peek(1) != ']' && m_Pos + 1 < m_Text.size()) {
            ++m_Pos;
            if (Peek() == '\\') {
                std::vector<Range> set;
                bool setNegated = false;
                hi = 0x110000;
                if (!ParseEscape(true, &set, &setNegated, &hi) || hi == 0x110000)
                    return Fail("invalid character class range");
            } else {
                hi = m_Text[m_Pos++];
            }
            if (hi < lo)
                return Fail("invalid character class range");
        }
        ranges.push_back({lo, hi});
    }
    ++m_Pos; // ]
    if (m_Flags.fold) {
        std::vector<Range> folded;
        for (Range r : ranges)
            AddFolded(folded, r);
        ranges = std::move(folded);
    }
    m_AtomStart = m_Prog.size();
    EmitClass(negated ? Complement(ranges) : ranges, false);
    return true;
}

bool Compiler::ParseGroupOpen() {
    ++m_Pos; // (
    Group g{m_Prog.size(), {}, m_Flags};
    if (Peek() == '?') {
        ++m_Pos;
        if (Peek() == 'P' || Peek() == '<') { // named group (?P<name>...) or (?<name>...)
            if (Peek() == 'P')
                ++m_Pos;
            if (Peek() != '<')
                return Fail("invalid named capture group");
            const size_t close = m_Text.find(U'>', m_Pos);
            if (close == std::u32string::npos || close == m_Pos + 1)
                return Fail("invalid named capture group");
            m_Pos = close + 1;
        } else {
            bool on = true, any = false;
            Flags f = m_Flags;
            for (;; ++m_Pos) {
                const char32_t c = Peek();
                if (c == 'i' || c == 's' || c == 'm' || c == 'U') {
                    (c == 'i' ? f.fold : c == 's' ? f.dotNewline : c == 'm' ? f.multiLine : any) = on;
                    any = true;
                } else if (c == '-' && on) {
                    on = false;
                } else if (c == ')' && any) { // (?i): the rest of the enclosing group
                    ++m_Pos;
                    m_Flags = f;
                    return true;
                } else if (c == ':') {
                    ++m_Pos;
                    m_Flags = f;
                    break;
                } else {
                    return Fail("missing argument to repetition operator or invalid perl group");
                }
            }
        }
    }
    m_Groups.push_back(std::move(g));
    m_AtomStart = SIZE_MAX;
    return true;
}

// Turns the branches of a group (or of the whole pattern) into one piece:
// Split to each branch, each but the last followed by a Jump to the end.
bool Compiler::CloseBranches(Group& g) {
    if (g.branches.empty())
        return true;
    std::vector<std::pair<size_t, size_t>> parts;
    size_t from = g.start;
    for (size_t b : g.branches) {
        parts.emplace_back(from, b);
        from = b;
    }
    parts.emplace_back(from, m_Prog.size());
    std::vector<Inst> tail(m_Prog.begin() + static_cast<ptrdiff_t>(g.start), m_Prog.end());
    m_Prog.resize(g.start);
    size_t total = 0;
    for (size_t i = 0; i < parts.size(); ++i)
        total += (parts[i].second - parts[i].first) + (i + 1 < parts.size() ? 2 : 0);
    if (g.start + total > kMaxInstructions)
        return Fail("pattern too large");
    const size_t end = g.start + total;
    for (size_t i = 0; i < parts.size(); ++i) {
        const size_t len = parts[i].second - parts[i].first;
        if (i + 1 < parts.size()) {
            Inst split;
            split.op = Op::Split;
            split.x = 1;
            split.y = static_cast<int32_t>(len + 2);
            Emit(split);
        }
        m_Prog.insert(m_Prog.end(), tail.begin() + static_cast<ptrdiff_t>(parts[i].first - g.start),
                      tail.begin() + static_cast<ptrdiff_t>(parts[i].second - g.start));
        if (i + 1 < parts.size()) {
            Inst jump;
            jump.op = Op::Jump;
            jump.x = static_cast<int32_t>(end - m_Prog.size());
            Emit(jump);
        }
    }
    g.branches.clear();
    return true;
}

bool Compiler::ReadCount(int* n) {
    if (!(Peek() >= '0' && Peek() <= '9'))
        return false;
    long v = 0;
    while (Peek() >= '0' && Peek() <= '9') {
        v = std::min<long>(v * 10 + static_cast<long>(Peek() - '0'), 100000);
        ++m_Pos;
    }
    *n = static_cast<int>(v);
    return true;
}

// A quantifier after the atom that starts at m_AtomStart and ends the program.
bool Compiler::ParseRepeat(char32_t op) {
    const size_t opPos = m_Pos;
    int min = 0, max = -1; // -1: no upper bound
    if (op == '{') {
        ++m_Pos;
        if (!ReadCount(&min)) {
            m_Pos = opPos; // not a repetition: a literal {
            return false;
        }
        max = min;
        if (Peek() == ',') {
            ++m_Pos;
            max = -1;
            ReadCount(&max);
        }
        if (Peek() != '}') {
            m_Pos = opPos;
            return false;
        }
        ++m_Pos;
        if (min > kMaxRepeat || max > kMaxRepeat || (max >= 0 && max < min))
            return Fail("bad repetition operator");
    } else {
        ++m_Pos;
        min = op == '+' ? 1 : 0;
        max = op == '?' ? 1 : -1;
    }
    if (m_AtomStart == SIZE_MAX)
        return Fail("missing argument to repetition operator");
    if (Peek() == '?') // lazy: the same set of matches
        ++m_Pos;
    if (Peek() == '*' || Peek() == '+' || Peek() == '?')
        return Fail("bad repetition operator");

    const std::vector<Inst> atom(m_Prog.begin() + static_cast<ptrdiff_t>(m_AtomStart), m_Prog.end());
    m_Prog.resize(m_AtomStart);
    const size_t len = atom.size();
    const size_t optional = max < 0 ? 1 : static_cast<size_t>(max - min);
    if (m_Prog.size() + len * (static_cast<size_t>(min) + optional) + 2 * optional + 1 > kMaxInstructions)
        return Fail("pattern too large");
    for (int i = 0; i < min; ++i)
        m_Prog.insert(m_Prog.end(), atom.begin(), atom.end());
    Inst split;
    split.op = Op::Split;
    if (max < 0) { // L: Split(atom, after); atom; Jump L
        split.x = 1;
        split.y = static_cast<int32_t>(len + 2);
        Emit(split);
        m_Prog.insert(m_Prog.end(), atom.begin(), atom.end());
        Inst jump;
        jump.op = Op::Jump;
        jump.x = -static_cast<int32_t>(len + 1);
        Emit(jump);
    } else {
        for (size_t i = 0; i < optional; ++i) { // Split(atom, after); atom
            split.x = 1;
            split.y = static_cast<int32_t>(len + 1);
            Emit(split);
            m_Prog.insert(m_Prog.end(), atom.begin(), atom.end());
        }
    }
    m_AtomStart = SIZE_MAX;
    return true;
}

bool Compiler::Run(std::vector<Inst>* program, std::string* error) {
    Group top{0, {}, m_Flags};
    auto fail = [&] {
        *error = m_Error;
        return false;
    };
    while (More()) {
        if (m_Prog.size() > kMaxInstructions)
            return Fail("pattern too large"), fail();
        const char32_t c = Peek();
        const size_t atom = m_Prog.size();
        switch (c) {
        case '(':
            if (!ParseGroupOpen())
                return fail();
            continue;
        case ')': {
            if (m_Groups.empty())
                return Fail("unexpected )"), fail();
            ++m_Pos;
            Group g = std::move(m_Groups.back());
            m_Groups.pop_back();
            if (!CloseBranches(g))
                return fail();
            m_Flags = g.outer;
            m_AtomStart = g.start;
            continue;
        }
        case '|':
            ++m_Pos;
            (m_Groups.empty() ? top : m_Groups.back()).branches.push_back(m_Prog.size());
            m_AtomStart = SIZE_MAX;
            continue;
        case '*':
        case '+':
        case '?':
        case '{':
            if (ParseRepeat(c))
                continue;
            if (!m_Error.empty())
                return fail();
            ++m_Pos; // a { that opens no repetition is itself
            EmitLiteral('{');
            m_AtomStart = atom;
            continue;
        case '[':
            if (!ParseClass())
                return fail();
            continue;
        case '.': {
            ++m_Pos;
            std::vector<Range> r = {{0, '\n' - 1}, {'\n' + 1, 0x10FFFF}};
            if (m_Flags.dotNewline)
                r = {{0, 0x10FFFF}};
            EmitClass(std::move(r), false);
            m_AtomStart = atom;
            continue;
        }
        case '^':
        case '$':
            ++m_Pos;
            EmitAssert(c == '^' ? (m_Flags.multiLine ? Where::LineStart : Where::TextStart)
                                : (m_Flags.multiLine ? Where::LineEnd : Where::TextEnd));
            m_AtomStart = SIZE_MAX;
            continue;
        case '\\': {
            const char32_t next = Peek(1);
            if (next == 'b' || next == 'B' || next == 'A' || next == 'z') {
                m_Pos += 2;
                EmitAssert(next == 'b'   ? Where::WordBoundary
                           : next == 'B' ? Where::NotWordBoundary
                           : next == 'A' ? Where::TextStart
                                         : Where::TextEnd);
                m_AtomStart = SIZE_MAX;
                continue;
            }
            if (next == 'Q') { // literal text up to \E
                m_Pos += 2;
                const size_t end = m_Text.find(U"\\E", m_Pos);
                const size_t stop = end == std::u32string::npos ? m_Text.size() : end;
                for (; m_Pos < stop; ++m_Pos) {
                    m_AtomStart = m_Prog.size();
                    EmitLiteral(m_Text[m_Pos]);
                }
                if (end != std::u32string::npos)
                    m_Pos += 2;
                continue;
            }
            std::vector<Range> set;
            bool negated = false;
            char32_t literal = 0x110000;
            if (!ParseEscape(false, &set, &negated, &literal))
                return fail();
            if (literal != 0x110000)
                EmitLiteral(literal);
            else
                EmitClass(negated ? Complement(set) : set, false);
            m_AtomStart = atom;
            continue;
        }
        default:
            ++m_Pos;
            EmitLiteral(c);
            m_AtomStart = atom;
            continue;
        }
    }
    if (!m_Groups.empty())
        return Fail("missing )"), fail();
    if (!CloseBranches(top))
        return fail();
    Emit(Inst{});
    *program = std::move(m_Prog);
    return true;
}

} // namespace

class Pattern {
public:
    std::vector<Inst> program;
    std::vector<std::vector<Range>> classes;

    bool Found(const std::u32string& text) const;

private:
    bool ClassHas(const Inst& in, char32_t c) const {
        for (const Range& r : classes[in.ranges])
            if (c >= r.lo && c <= r.hi)
                return !in.negated;
        return in.negated;
    }
    bool Holds(Where w, const std::u32string& t, size_t i) const {
        const bool prevWord = i > 0 && IsWord(t[i - 1]), nextWord = i < t.size() && IsWord(t[i]);
        switch (w) {
        case Where::TextStart: return i == 0;
        case Where::TextEnd: return i == t.size();
        case Where::LineStart: return i == 0 || t[i - 1] == '\n';
        case Where::LineEnd: return i == t.size() || t[i] == '\n';
        case Where::WordBoundary: return prevWord != nextWord;
        case Where::NotWordBoundary: return prevWord == nextWord;
        }
        return false;
    }
};

// Pike's machine: the set of instructions that may read the next character,
// each at most once per position; a search adds a fresh start at every one.
bool Pattern::Found(const std::u32string& text) const {
    const size_t n = program.size();
    std::vector<uint32_t> mark(n, UINT32_MAX); // position an instruction was last added at
    std::vector<size_t> current, next, stack;
    current.reserve(n);
    next.reserve(n);
    // Follows jumps, splits and assertions from pc at position i; true on a match.
    auto add = [&](std::vector<size_t>& list, size_t pc, size_t i) {
        stack.push_back(pc);
        while (!stack.empty()) {
            const size_t p = stack.back();
            stack.pop_back();
            if (mark[p] == i)
                continue;
            mark[p] = static_cast<uint32_t>(i);
            const Inst& in = program[p];
            switch (in.op) {
            case Op::Match:
                stack.clear();
                return true;
            case Op::Jump:
                stack.push_back(p + static_cast<size_t>(static_cast<ptrdiff_t>(in.x)));
                break;
            case Op::Split:
                stack.push_back(p + static_cast<size_t>(static_cast<ptrdiff_t>(in.y)));
                stack.push_back(p + static_cast<size_t>(static_cast<ptrdiff_t>(in.x)));
                break;
            case Op::Assert:
                if (Holds(in.where, text, i))
                    stack.push_back(p + 1);
                break;
            case Op::Class:
                list.push_back(p);
                break;
            }
        }
        return false;
    };
    for (size_t i = 0;; ++i) {
        if (add(current, 0, i)) // a start at every position: a search, not an anchored match
            return true;
        if (i == text.size())
            return false;
        next.clear();
        for (size_t pc : current)
            if (ClassHas(program[pc], text[i]) && add(next, pc + 1, i + 1))
                return true;
        current.swap(next);
    }
}

std::shared_ptr<const Pattern> CompilePattern(const std::string& utf8, std::string* error) {
    std::u32string text;
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const size_t len = lumo::DecodeUtf8(utf8, i, &c);
        text.push_back(len ? c : 0xFFFD);
        i += len ? len : 1;
    }
    auto p = std::make_shared<Pattern>();
    Compiler compiler(std::move(text), &p->classes);
    if (!compiler.Run(&p->program, error))
        return nullptr;
    return p;
}

bool PatternFound(const Pattern& pattern, const std::string& utf8) {
    std::u32string text;
    text.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const size_t len = lumo::DecodeUtf8(utf8, i, &c);
        text.push_back(len ? c : 0xFFFD);
        i += len ? len : 1;
    }
    return pattern.Found(text);
}

} // namespace lumo_cli
