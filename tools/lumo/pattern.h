// An expectation's regular expression (" => REGEX" in a command list): RE2's
// syntax, searched for anywhere in the answer's UTF-8 text in time linear in
// the answer, whatever the pattern. Compiled once, used from any thread.
#pragma once

#include <memory>
#include <string>

namespace lumo_cli {

class Pattern;

// The pattern compiled, or null with the reason in *error.
std::shared_ptr<const Pattern> CompilePattern(const std::string& utf8, std::string* error);

// Whether the pattern matches somewhere in `utf8`.
bool PatternFound(const Pattern& pattern, const std::string& utf8);

} // namespace lumo_cli
