// Many links at once: a runner does one piece of work per target on a
// bounded pool of worker threads (never a thread per target) and hands each
// finished target to one consumer, the thread that called Run, either in
// target order (a finished target waits until every earlier one has been
// handed over, so a slow target never reorders a report) or as found. Each
// piece of work keeps its own device link and session: nothing one module
// sends can reach another's link, and one module's trouble costs only its
// own bounds. Stop ends a run promptly: no further target starts, and the
// links in progress see the stop flag (their connect gives up, their session
// pauses end) and close as usual. Plain C++ and std::thread.
//
// Users: lumo's scan, send and run over many targets; the C API's scan and
// runs; a front end's module list (Run on a thread of its own, Stop from its
// window) and a watcher (one Run per poll on the same runner).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "front_end.h"

namespace session {

inline constexpr int kMaxJobs = 4096;

enum class Delivery {
    InOrder, // done(i) in index order
    AsFound, // done(i) as soon as work(i) has returned
};

class Runner {
public:
    // Work for index i of a run; runs on a worker thread.
    using Work = std::function<void(size_t index)>;
    // Takes a finished index; runs on the thread that called Run.
    using Done = std::function<void(size_t index)>;

    // At most `jobs` (1 to kMaxJobs) workers, started as a run needs them
    // and kept for later runs. Any thread.
    explicit Runner(int jobs);
    // Stops and waits for the workers. No Run may be in progress.
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Runs work(i) for i = 0 .. count-1, starting them in index order with at
    // most Jobs() running at once, and calls done(i) on the calling thread
    // once work(i) has returned (so work may leave its result where done
    // takes it). Blocks until every started work has returned and has been
    // handed over. Returns how many were: count, or fewer after a Stop.
    // An exception thrown by work or done stops the run and is rethrown here
    // once every started work has returned. One Run at a time; never from a
    // worker (it would wait for itself).
    size_t Run(size_t count, const Work& work, const Done& done, Delivery delivery);

    // Asks the run in progress, and every later one, to start no more work;
    // work in progress sees Stopping(). Returns at once; any thread, also
    // from work and done.
    void Stop();
    bool Stopping() const { return m_Stop.load(std::memory_order_acquire); }
    // The flag Stop raises, for a link's pace (lumo::LinkPace::cancel) and
    // for RunnerFrontEnd. Lives as long as the runner.
    const std::atomic<bool>& StopFlag() const { return m_Stop; }

    int Jobs() const { return m_Jobs; }
    // Works of the current (or last) run that have returned. Any thread.
    size_t Finished() const { return m_Finished.load(std::memory_order_relaxed); }

    // Whether the calling thread is a worker of some runner.
    static bool OnWorkerThread();

private:
    void WorkerMain();
    // Starts workers until there are `wanted` (at most Jobs()); false when
    // not one could be started.
    bool Grow(size_t wanted);

    const int m_Jobs;
    std::atomic<bool> m_Stop{false};
    std::atomic<size_t> m_Finished{0};

    // Guards everything below; workers sleep on m_WorkReady, Run on m_Progress.
    std::mutex m_Mutex;
    std::condition_variable m_WorkReady, m_Progress;
    std::vector<std::thread> m_Workers;
    bool m_Quit = false;
    const Work* m_Work = nullptr;   // the run's work while a run is open
    size_t m_Count = 0;             // indexes of the open run
    size_t m_Next = 0;              // the next index to start
    size_t m_Running = 0;           // works running now
    std::vector<size_t> m_Returned; // returned, not yet taken by Run
    std::exception_ptr m_Failure;   // the first exception of work
};

// The typed form: work(i) returns a Result, which waits (moved, not copied)
// until its turn and is then handed to done(i, result) on the calling thread.
// Only results that wait for an earlier target are held.
template <class Result, class WorkFn, class DoneFn>
size_t RunEach(Runner& runner, size_t count, const WorkFn& work, const DoneFn& done, Delivery delivery) {
    std::mutex heldMutex;
    std::unordered_map<size_t, Result> held;
    return runner.Run(
        count,
        [&](size_t i) {
            Result r = work(i);
            const std::lock_guard lock(heldMutex);
            held.emplace(i, std::move(r));
        },
        [&](size_t i) {
            typename std::unordered_map<size_t, Result>::node_type node;
            {
                const std::lock_guard lock(heldMutex);
                node = held.extract(i);
            }
            done(i, std::move(node.mapped()));
        },
        delivery);
}

// A front end for a link a runner drives, which nobody watches: it shows
// nothing, and its pauses and condition waits end at once when the stop flag
// is raised (the operation then goes on as if the pause were over, or the
// condition never came). stop may be null (pauses run whole). Derive to show
// what a front end must.
class RunnerFrontEnd : public FrontEnd {
public:
    explicit RunnerFrontEnd(const std::atomic<bool>* stop) : m_Stop(stop) {}

    void ShowStatus(const std::u16string&) override {}
    void ShowBox(const std::u16string&, const std::u16string&, BoxIcon) override {}
    void Sleep(int ms) override;
    bool Await(int ms, const std::function<bool(int sliceMs)>& ready) override;
    void BeginBusy() override {}
    void EndBusy() override {}
    void TraceCommand(const std::string&) override {}

    bool Stopping() const { return m_Stop && m_Stop->load(std::memory_order_acquire); }

private:
    const std::atomic<bool>* m_Stop;
};

} // namespace session
