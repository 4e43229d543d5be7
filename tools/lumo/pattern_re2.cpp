// Expectations matched by RE2 (see pattern.h).
#include "pattern.h"

#include <re2/re2.h>

namespace lumo_cli {

class Pattern {
public:
    explicit Pattern(const std::string& utf8, const re2::RE2::Options& options) : re(utf8, options) {}
    re2::RE2 re;
};

std::shared_ptr<const Pattern> CompilePattern(const std::string& utf8, std::string* error) {
    re2::RE2::Options options;
    options.set_log_errors(false);
    auto p = std::make_shared<const Pattern>(utf8, options);
    if (p->re.ok())
        return p;
    *error = p->re.error();
    return nullptr;
}

bool PatternFound(const Pattern& pattern, const std::string& utf8) {
    return re2::RE2::PartialMatch(utf8, pattern.re);
}

} // namespace lumo_cli
