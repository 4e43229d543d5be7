#include "posix_futex.h"

#include <climits>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumo {
namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the futex word is the atomic's own storage");

uint32_t* Address(const std::atomic<uint32_t>& word) {
    return reinterpret_cast<uint32_t*>(const_cast<std::atomic<uint32_t>*>(&word));
}

} // namespace

void FutexWait(const std::atomic<uint32_t>& word, uint32_t expected, std::chrono::microseconds timeout) {
    const long long us = timeout.count();
    if (us <= 0)
        return;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(us / 1000000);
    ts.tv_nsec = static_cast<long>(us % 1000000) * 1000L;
    // EAGAIN (the word changed), EINTR and ETIMEDOUT all just return.
    syscall(SYS_futex, Address(word), FUTEX_WAIT_PRIVATE, expected, &ts, nullptr, 0);
}

void FutexWakeAll(const std::atomic<uint32_t>& word) {
    syscall(SYS_futex, Address(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

} // namespace lumo
