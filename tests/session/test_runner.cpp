// The runner that drives many links: bounded workers, delivery in order or
// as found, a prompt Stop, errors carried back; the target lists; and scans
// against simulators on loopback addresses of their own (127.0.63.x).
#include "black_hole.h"
#include "poll_schedule.h"
#include "runner.h"
#include "scan.h"
#include "targets.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

using namespace simtest;

namespace {

// Lets the test release works one at a time, in any order.
class Gates {
public:
    void Open(size_t i) {
        const std::lock_guard lock(m_Mutex);
        m_Open.insert(i);
        m_Changed.notify_all();
    }
    // Blocks until i is opened or stop is raised (bounded: a lost gate fails
    // the test instead of hanging it).
    void Pass(size_t i, const std::atomic<bool>& stop) {
        std::unique_lock lock(m_Mutex);
        m_Arrived.insert(i);
        m_Changed.notify_all();
        m_Changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_Open.count(i) || stop.load(); });
    }
    // Until the work of i is waiting at its gate, or n works are.
    bool Arrived(size_t i) {
        std::unique_lock lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_Arrived.count(i) > 0; });
    }
    bool ArrivedCount(size_t n) {
        std::unique_lock lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_Arrived.size() >= n; });
    }
    void Wake() {
        const std::lock_guard lock(m_Mutex);
        m_Changed.notify_all();
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::set<size_t> m_Open, m_Arrived;
};

} // namespace

// Results come in target order however the works finish; as found they come
// as they finish; never more than jobs run at once, on at most jobs threads.
TEST(Runner, OrderAndBound) {
    for (const session::Delivery delivery : {session::Delivery::InOrder, session::Delivery::AsFound}) {
        session::Runner runner(3);
        Gates gates;
        std::atomic<int> running{0}, most{0};
        std::mutex idsMutex;
        std::set<std::thread::id> threads;
        std::vector<size_t> handed;
        std::thread releaser([&] {
            // 0 last: in order, everything waits for it
            size_t returned = 0;
            for (size_t i : {2, 1, 4, 3, 5, 6, 7, 0}) {
                EXPECT_TRUE(gates.Arrived(i)) << i;
                gates.Open(i);
                // one at a time: each has returned before the next is let go
                ++returned;
                for (int wait = 0; wait < 20000 && runner.Finished() < returned; ++wait)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const size_t n = runner.Run(
            8,
            [&](size_t i) {
                {
                    const std::lock_guard lock(idsMutex);
                    threads.insert(std::this_thread::get_id());
                }
                most = std::max(most.load(), ++running);
                gates.Pass(i, runner.StopFlag());
                --running;
            },
            [&](size_t i) { handed.push_back(i); }, delivery);
        releaser.join();
        EXPECT_EQ(n, 8u);
        EXPECT_LE(most.load(), 3);
        EXPECT_LE(threads.size(), 3u);
        ASSERT_EQ(handed.size(), 8u);
        if (delivery == session::Delivery::InOrder)
            EXPECT_EQ(handed, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
        else
            EXPECT_EQ(handed.back(), 0u); // released last
        EXPECT_EQ(runner.Finished(), 8u);
    }
}

// Typed results wait for their turn; the same workers serve a second run.
TEST(Runner, TypedResultsAndASecondRun) {
    session::Runner runner(4);
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> got;
        const size_t n = session::RunEach<std::string>(
            runner, 50,
            [&](size_t i) {
                std::this_thread::sleep_for(std::chrono::microseconds((50 - i) * 20));
                return "target " + std::to_string(i);
            },
            [&](size_t i, std::string&& s) {
                EXPECT_EQ(s, "target " + std::to_string(i));
                got.push_back(std::move(s));
            },
            session::Delivery::InOrder);
        EXPECT_EQ(n, 50u);
        EXPECT_EQ(got.size(), 50u);
    }
}

// Stop while every worker waits: the run returns with what was started,
// nothing more starts, and a later run does nothing. Stop may come from done.
TEST(Runner, StopEndsTheRunAndLaterOnes) {
    session::Runner runner(4);
    Gates gates;
    std::atomic<size_t> started{0};
    std::thread stopper([&] {
        if (gates.ArrivedCount(4))
            runner.Stop();
        gates.Wake();
    });
    std::vector<size_t> handed;
    const size_t n = runner.Run(
        1000,
        [&](size_t i) {
            ++started;
            gates.Pass(i, runner.StopFlag());
        },
        [&](size_t i) { handed.push_back(i); }, session::Delivery::InOrder);
    stopper.join();
    EXPECT_EQ(started.load(), 4u);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(handed, (std::vector<size_t>{0, 1, 2, 3}));
    EXPECT_EQ(runner.Run(
                  5, [](size_t) { ADD_FAILURE(); }, [](size_t) {}, session::Delivery::AsFound),
              0u);

    // the first one handed over stops the run; the others wait for that
    session::Runner fromDone(2);
    size_t seen = 0;
    const size_t handedFromDone = fromDone.Run(
        100,
        [&](size_t i) {
            for (int wait = 0; i > 0 && wait < 20000 && !fromDone.Stopping(); ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        [&](size_t) { ++seen, fromDone.Stop(); }, session::Delivery::AsFound);
    EXPECT_LE(handedFromDone, 3u); // 0, and what the two workers had started by then
    EXPECT_EQ(seen, handedFromDone);
}

// An exception in work or done reaches the caller once the workers are idle.
TEST(Runner, ExceptionsComeBack) {
    session::Runner runner(3);
    EXPECT_THROW(runner.Run(
                     20,
                     [](size_t i) {
                         if (i == 7)
                             throw std::runtime_error("work");
                     },
                     [](size_t) {}, session::Delivery::InOrder),
                 std::runtime_error);
    session::Runner other(3);
    EXPECT_THROW(other.Run(
                     20, [](size_t) {},
                     [](size_t i) {
                         if (i == 3)
                             throw std::logic_error("done");
                     },
                     session::Delivery::InOrder),
                 std::logic_error);
}

// The forms of a target list, and what is wrong with bad ones.
// Rounds of polls: a target whose poll still runs is skipped in the later
// rounds while the others keep being polled; every slot is handed over and
// the rounds are whole in order, each once its last slot is in.
TEST(PollSchedule, HangingTargetIsSkippedOthersGoOn) {
    session::Runner runner(3);
    session::PollSchedule schedule(3, std::chrono::milliseconds(0), 3);
    Gates gates;
    std::vector<std::string> handed;
    std::vector<uint64_t> rounds;
    schedule.Run<int>(
        runner,
        [&](const session::PollSlot& slot) {
            if (slot.target == 0)
                gates.Pass(0, runner.StopFlag()); // hangs until its later slots have been skipped
            return int(slot.target * 10 + slot.round);
        },
        [&](const session::PollSlot& slot, std::optional<int>&& result) {
            handed.push_back(std::to_string(slot.target) + "/" + std::to_string(slot.round) +
                             (slot.skipped ? " skipped" : " " + std::to_string(result.value_or(-1))));
            if (slot.target == 0 && slot.round == 2)
                gates.Open(0);
        },
        [&](uint64_t round, double seconds) {
            rounds.push_back(round);
            EXPECT_GE(seconds, 0);
        });
    std::sort(handed.begin(), handed.end());
    EXPECT_EQ(handed, (std::vector<std::string>{"0/0 0", "0/1 skipped", "0/2 skipped", "1/0 10", "1/1 11",
                                                "1/2 12", "2/0 20", "2/1 21", "2/2 22"}));
    EXPECT_EQ(rounds, (std::vector<uint64_t>{0, 1, 2})); // 1 and 2 wait for 0
}

TEST(Targets, FormsAndErrors) {
    const auto resolve = [](const std::string& name, std::string* why) -> std::optional<uint32_t> {
        if (name == "ctrl-a.example")
            return 0x0A000102; // 10.0.1.2
        *why = "Name or service not known";
        return std::nullopt;
    };
    const std::string file = testing::TempDir() + "targets_" + std::to_string(getpid()) + ".txt";
    std::ofstream(file) << "# the first controller\n10.0.0.9\n\n  10.0.0.1-3   # a range\r\nctrl-a.example\n";
    struct Case {
        std::vector<std::string> texts;
        std::vector<std::string> addresses; // dotted; empty for an error
        session::TargetProblem problem;
        std::string error; // part of it
    };
    const Case cases[] = {
        {{"10.0.0.5"}, {"10.0.0.5"}, session::TargetProblem::None, ""},
        {{"10.0.0.254-10.0.1.1"},
         {"10.0.0.254", "10.0.0.255", "10.0.1.0", "10.0.1.1"},
         session::TargetProblem::None,
         ""},
        {{"10.0.0.3-5", "10.0.0.4"}, {"10.0.0.3", "10.0.0.4", "10.0.0.5"}, session::TargetProblem::None, ""},
        {{"10.0.0.77/30"},
         {"10.0.0.76", "10.0.0.77", "10.0.0.78", "10.0.0.79"},
         session::TargetProblem::None,
         ""},
        {{"10.0.0.8", "@" + file},
         {"10.0.0.8", "10.0.0.9", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.1.2"},
         session::TargetProblem::None,
         ""},
        {{"10.0.0.300"}, {}, session::TargetProblem::Usage, "not an IPv4 address: '10.0.0.300'"},
        {{"10.0.0.9-3"}, {}, session::TargetProblem::Usage, "runs backwards"},
        {{"10.0.0.0/33"}, {}, session::TargetProblem::Usage, "0 to 32 bits"},
        {{"10.0.0.1-2/24"}, {}, session::TargetProblem::Usage, "not a target"},
        {{"no_such host"}, {}, session::TargetProblem::Usage, "not a target: 'no_such host'"},
        {{"missing.example"}, {}, session::TargetProblem::Usage, "cannot resolve 'missing.example': Name or"},
        {{"10.0.0.0/8"}, {}, session::TargetProblem::Usage, "more than 1048576 addresses"},
        {{"@/nonexistent/targets.txt"},
         {},
         session::TargetProblem::NoInput,
         "cannot read /nonexistent/targets.txt: "},
    };
    for (const Case& c : cases) {
        const session::TargetList list = session::ReadTargets(c.texts, resolve);
        SCOPED_TRACE(testing::PrintToString(c.texts));
        EXPECT_EQ(list.problem, c.problem) << list.error;
        EXPECT_NE(list.error.find(c.error), std::string::npos) << list.error;
        std::vector<std::string> dotted;
        for (uint32_t a : list.addresses)
            dotted.push_back(session::DottedAddress(a));
        EXPECT_EQ(dotted, c.addresses);
    }
    std::ofstream(file) << "10.0.0.1\n@other.txt\n";
    const session::TargetList nested = session::ReadTargets({"@" + file}, resolve);
    EXPECT_NE(nested.error.find(file + ":2: a target file cannot name another"), std::string::npos)
        << nested.error;
    std::remove(file.c_str());
    // a name the system knows, without the network
    EXPECT_EQ(session::ReadTargets({"localhost"}).addresses, std::vector<uint32_t>{0x7F000001});
}

// A scan over three addresses: two modules (X greeting or not), one address
// where nothing listens. Each result belongs to its own address.
TEST(Scan, FindsTheModulesAndOnlyThem) {
    ChildProcess a, b;
    ASSERT_TRUE(a.Start(LUMO_MODULE_SIM, {"--address", "127.0.63.1", "--tcp", "--id", "11"}));
    ASSERT_TRUE(b.Start(LUMO_MODULE_SIM, {"--address", "127.0.63.3", "--tcp", "--id", "13", "--style", "5"}));
    session::Runner runner(8);
    session::ScanOptions options;
    options.info = true;
    std::map<std::string, session::ScanResult> found;
    std::vector<std::string> order;
    const std::vector<uint32_t> addresses{0x7F003F01, 0x7F003F02, 0x7F003F03};
    EXPECT_EQ(session::Scan(
                  runner, addresses, options,
                  [&](const session::ScanResult& r) {
                      order.push_back(session::DottedAddress(r.address));
                      found[order.back()] = r;
                  },
                  session::Delivery::InOrder),
              3u);
    EXPECT_EQ(order, (std::vector<std::string>{"127.0.63.1", "127.0.63.2", "127.0.63.3"}));
    const session::ScanResult& one = found["127.0.63.1"];
    EXPECT_TRUE(one.found);
    EXPECT_EQ(one.id, 11);
    EXPECT_EQ(one.style, 17);
    EXPECT_EQ(one.modeChar, 'z');
    EXPECT_EQ(one.info, u"Device ID 11 Style 17 Ver 1.00");
    EXPECT_GE(one.connectUs, 0);
    EXPECT_FALSE(found["127.0.63.2"].found);
    EXPECT_EQ(found["127.0.63.2"].osError, ECONNREFUSED);
    const session::ScanResult& three = found["127.0.63.3"];
    EXPECT_TRUE(three.found);
    EXPECT_EQ(three.id, 13);
    EXPECT_EQ(three.style, 5);
    EXPECT_EQ(three.modeChar, 0);
    EXPECT_EQ(three.info.find(u"Device ID 13 Style 5"), 0u);
}

// A connect that gets no answer gives up after the scan's bound, not the
// device link's 20 s; a Stop ends one that would wait a minute.
TEST(Scan, ConnectBoundAndStop) {
    BlackHole hole("127.0.63.5");
    ASSERT_TRUE(hole.Ok());
    session::ScanOptions quick;
    quick.connectTimeoutMs = 200;
    const session::ScanResult r = session::ScanAddress(0x7F003F05, quick, nullptr);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.osError, ETIMEDOUT);

    session::Runner runner(2);
    session::ScanOptions slow;
    slow.connectTimeoutMs = 60000;
    std::atomic<int> started{0};
    std::thread stopper([&] {
        for (int i = 0; i < 2000 && started < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        runner.Stop(); // the connects are under way, or about to be: either way they give up
    });
    std::vector<int> errors;
    session::RunEach<session::ScanResult>(
        runner, 3,
        [&](size_t) {
            ++started;
            return session::ScanAddress(0x7F003F05, slow, &runner.StopFlag());
        },
        [&](size_t, session::ScanResult&& s) { errors.push_back(s.osError); }, session::Delivery::AsFound);
    stopper.join();
    EXPECT_EQ(started.load(), 2); // the third never started
    EXPECT_EQ(errors, (std::vector<int>{ECANCELED, ECANCELED}));
}
