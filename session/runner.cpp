#include "runner.h"

#include <algorithm>
#include <chrono>
#include <queue>
#include <system_error>

namespace session {

namespace {

thread_local bool t_OnWorker = false;

} // namespace

Runner::Runner(int jobs) : m_Jobs(std::clamp(jobs, 1, kMaxJobs)) {}

Runner::~Runner() {
    {
        const std::lock_guard lock(m_Mutex);
        m_Quit = true;
    }
    m_WorkReady.notify_all();
    for (std::thread& t : m_Workers)
        t.join();
}

bool Runner::OnWorkerThread() {
    return t_OnWorker;
}

void Runner::Stop() {
    m_Stop.store(true, std::memory_order_release);
    {
        // a thread between its look at the flag and its sleep holds the lock
        const std::lock_guard lock(m_Mutex);
    }
    m_WorkReady.notify_all();
    m_Progress.notify_all();
}

bool Runner::Grow(size_t wanted) {
    wanted = std::min(wanted, static_cast<size_t>(m_Jobs));
    while (m_Workers.size() < wanted) {
        try {
            m_Workers.emplace_back(&Runner::WorkerMain, this);
        } catch (const std::system_error&) {
            break; // out of threads: the run goes on with fewer
        }
    }
    return !m_Workers.empty();
}

void Runner::WorkerMain() {
    t_OnWorker = true;
    std::unique_lock lock(m_Mutex);
    for (;;) {
        m_WorkReady.wait(lock, [this] { return m_Quit || (m_Work && m_Next < m_Count && !Stopping()); });
        if (m_Quit)
            return;
        const size_t index = m_Next++;
        const Work& work = *m_Work;
        ++m_Running;
        lock.unlock();
        std::exception_ptr failure;
        try {
            work(index);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        --m_Running;
        if (failure) {
            // nothing to hand over; the run ends and Run rethrows
            if (!m_Failure)
                m_Failure = failure;
            m_Stop.store(true, std::memory_order_release);
            m_WorkReady.notify_all();
        } else {
            m_Returned.push_back(index);
            m_Finished.fetch_add(1, std::memory_order_relaxed);
        }
        m_Progress.notify_one();
    }
}

size_t Runner::Run(size_t count, const Work& work, const Done& done, Delivery delivery) {
    std::unique_lock lock(m_Mutex);
    m_Finished.store(0, std::memory_order_relaxed);
    if (count == 0 || Stopping())
        return 0;
    lock.unlock();
    if (!Grow(count))
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no worker thread could be started");
    lock.lock();
    m_Work = &work;
    m_Count = count;
    m_Next = 0;
    m_WorkReady.notify_all();

    size_t handed = 0; // in order: also the next index due
    std::priority_queue<size_t, std::vector<size_t>, std::greater<>> waiting;
    std::vector<size_t> batch;
    std::exception_ptr doneFailure;
    for (;;) {
        m_Progress.wait(lock, [this] {
            return !m_Returned.empty() || (m_Running == 0 && (m_Next == m_Count || Stopping()));
        });
        if (m_Returned.empty())
            break;
        batch.swap(m_Returned);
        lock.unlock();
        try {
            for (const size_t i : batch) {
                if (doneFailure)
                    break;
                if (delivery == Delivery::AsFound) {
                    done(i);
                    ++handed;
                } else {
                    waiting.push(i);
                }
            }
            while (!doneFailure && !waiting.empty() && waiting.top() == handed) {
                waiting.pop();
                done(handed);
                ++handed;
            }
        } catch (...) {
            doneFailure = std::current_exception();
            Stop();
        }
        batch.clear();
        lock.lock();
    }
    // closed: no worker starts anything of this run any more
    m_Work = nullptr;
    m_Count = m_Next = 0;
    std::exception_ptr failure = doneFailure ? doneFailure : m_Failure;
    m_Failure = nullptr;
    lock.unlock();
    if (failure)
        std::rethrow_exception(failure);
    return handed;
}

void RunnerFrontEnd::Sleep(int ms) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!Stopping()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return;
        // without a flag to look at, one sleep
        std::this_thread::sleep_for(
            std::chrono::milliseconds(m_Stop ? std::min<long long>(left, kAwaitSliceMs) : left));
    }
}

bool RunnerFrontEnd::Await(int ms, const std::function<bool(int sliceMs)>& ready) {
    // once stopped, the rest of the wait passes in a few microseconds: every
    // slice finds the condition false and its pause already over
    return FrontEnd::Await(ms, [&](int sliceMs) { return !Stopping() && ready(sliceMs); });
}

} // namespace session
