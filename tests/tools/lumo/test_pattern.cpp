// The automaton that matches lumo's expectations where RE2 is missing
// (Windows) must agree with RE2 on what matches and what is refused.
#include "pattern.h"

#include <gtest/gtest.h>
#include <re2/re2.h>

#include <string>
#include <vector>

namespace {

using lumo_cli::CompilePattern;
using lumo_cli::PatternFound;

TEST(Pattern, AgreesWithRe2) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> table = {
        {"^OK: command za 1 done", {"OK: command za 1 done\r", "Ack : OK", ""}},
        {"(?i)device id \\d+ style 17", {"Device ID 3 Style 17 Ver 1.00", "device id x"}},
        {"Ver [0-9]+\\.[0-9]{2}$", {"Ver 1.00", "Ver 1.0", "Ver 10.001"}},
        {"(ab|cd)+e|^x", {"ababcde", "abe", "xe", "ax"}},
        {"[^a-z]", {"abc", "abC"}},
        {"[[:digit:]]{3}|[[:^alpha:]]", {"12", "ab", "a1"}},
        {"\\bza\\b\\B", {"za 1", "zap", "za"}},
        {"x{2,3}y|z{2,}", {"xy", "xxy", "z", "zz"}},
        {"(a+)+$", {std::string(30, 'a') + "b", "aaa"}},
        {"\\x41\\x{42}\\Q.*\\E", {"AB.*", "AB.x"}},
        {"a.c", {"abc", "a\nc"}},
        {"(?s)a.c|(?m)^b$", {"a\nc", "a\nb\nc", "ab"}},
        {"^(.|\\s)*$", {"anything\nat all", ""}},
        {"[\\d\\s-]+$|[]a]", {"1 2-3", "]", "x"}},
        {"(?P<n>z)h|(?:é+)", {"zh", "éé", "e"}},
        {"a{,2}|\\$\\d|()", {"a{,2}", "$5", ""}},
        {"\\W+?", {"ab", "a b"}},
    };
    for (const auto& [pattern, subjects] : table) {
        std::string error;
        const auto ours = CompilePattern(pattern, &error);
        const re2::RE2 theirs(pattern, re2::RE2::Quiet);
        ASSERT_TRUE(ours && theirs.ok()) << pattern << ": " << error;
        for (const std::string& s : subjects)
            EXPECT_EQ(PatternFound(*ours, s), re2::RE2::PartialMatch(s, theirs)) << pattern << " in '" << s << "'";
    }
    for (const char* refused : {"(", ")", "a**", "*a", "[a", "\\", "a{1001}", "(?z)", "[z-a]"}) {
        std::string error;
        EXPECT_FALSE(CompilePattern(refused, &error)) << refused;
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(re2::RE2(refused, re2::RE2::Quiet).ok()) << refused;
    }
}

// Deep nesting and long patterns cost memory, not stack or time.
TEST(Pattern, HostilePatternsEndInTime) {
    std::string error;
    const auto deep = CompilePattern(std::string(20000, '(') + "2" + std::string(20000, ')'), &error);
    ASSERT_TRUE(deep) << error;
    EXPECT_TRUE(PatternFound(*deep, "za 2 done"));
    const auto nested = CompilePattern("((a*)*)*b", &error);
    ASSERT_TRUE(nested);
    EXPECT_FALSE(PatternFound(*nested, std::string(20000, 'a')));
    EXPECT_FALSE(CompilePattern("((a{1000}){1000}){1000}", &error));
    EXPECT_EQ(error, "pattern too large");
}

} // namespace
