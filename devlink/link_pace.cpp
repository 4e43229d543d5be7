#include "link_pace.h"

namespace lumo {
namespace {

const LinkPace kConsolePace{};
thread_local const LinkPace* t_Pace = nullptr;

} // namespace

const LinkPace& CurrentPace() {
    return t_Pace ? *t_Pace : kConsolePace;
}

ScopedPace::ScopedPace(const LinkPace& pace) : m_Pace(pace), m_Outer(t_Pace) {
    t_Pace = &m_Pace;
}

ScopedPace::~ScopedPace() {
    t_Pace = m_Outer;
}

} // namespace lumo
