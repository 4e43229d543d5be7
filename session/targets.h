// Which modules a program works on: the target texts a person gives (an
// address, a range A-B, a CIDR block A/N, a host name, or @FILE with one
// target a line) turned into IPv4 addresses. Plain C++ apart from the name
// look-up (posix_resolve.h) and reading the files; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace session {

// The most addresses one list may hold (a /12): a typing slip such as
// 10.0.0.0/8 is refused instead of taking hours.
inline constexpr size_t kMaxTargets = size_t{1} << 20;

enum class TargetProblem {
    None,
    Usage,   // a text that is no target, a name that does not resolve, too many
    NoInput, // an @FILE that cannot be read
};

struct TargetList {
    // In the order given (a range or block ascending), each address once.
    std::vector<uint32_t> addresses;
    TargetProblem problem = TargetProblem::None;
    std::string error; // what was wrong, for "lumo: <error>"

    bool ok() const { return problem == TargetProblem::None; }
};

// Looks a host name up: its first IPv4 address, or nullopt with the
// system's reason in *why.
using HostResolver = std::function<std::optional<uint32_t>(const std::string& name, std::string* why)>;
std::optional<uint32_t> ResolveHost(const std::string& name, std::string* why);

// Reads every text in turn. A host name is looked up through resolve; an
// @FILE ("@-" for standard input) is read whole, a '#' to the end of a line
// being a comment, and may name no further @FILE.
TargetList ReadTargets(const std::vector<std::string>& texts, const HostResolver& resolve = ResolveHost);

// Whether text has a target's form, without reading a file or looking a
// name up (for checking options early); *why says what is wrong.
bool TargetFormOk(std::string_view text, std::string* why);

// "a.b.c.d"
std::string DottedAddress(uint32_t address);

} // namespace session
