// The device query on a serial link, with the module played on a pty master.
#include "lumo_net.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace lumo_test;
using namespace std::chrono_literals;

namespace {

constexpr int kCom = 7;
const Bytes kQuery = Hex("55 AA FF 00 01 FE 19 00");

// Answers the n-th query with answers[n] (nothing past the list) and keeps
// every byte the link sends.
class ScriptedModule {
public:
    ScriptedModule(PtyPair& pty, std::vector<Bytes> answers)
        : m_Pty(pty), m_Answers(std::move(answers)), m_Thread([this] { Run(); }) {}
    ~ScriptedModule() {
        m_Stop = true;
        m_Thread.join();
    }
    // Every byte the link has sent so far.
    Bytes Received() {
        std::lock_guard lock(m_Mutex);
        return m_Received;
    }

private:
    void Run() {
        size_t next = 0;
        size_t pending = 0; // bytes of the current query seen so far
        while (!m_Stop) {
            Bytes got = m_Pty.ReadExact(kQuery.size() - pending, 50ms);
            if (got.empty())
                continue;
            {
                std::lock_guard lock(m_Mutex);
                m_Received.insert(m_Received.end(), got.begin(), got.end());
            }
            pending += got.size();
            if (pending < kQuery.size())
                continue;
            pending = 0;
            if (next < m_Answers.size())
                m_Pty.Write(m_Answers[next++]);
        }
    }

    PtyPair& m_Pty;
    std::vector<Bytes> m_Answers;
    std::mutex m_Mutex;
    Bytes m_Received;
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};

Bytes Repeat(const Bytes& b, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

} // namespace

TEST(SkarnDevice, SerialExchanges) {
    const struct {
        const char* name;
        unsigned char kind; // 2: long idle limit, so a slow module is still heard
        std::vector<Bytes> answers;
        int queries;
        Bytes out;
    } cases[] = {
        {"complete answer", 2, {Hex("12 34 00 FF 5A A5 01")}, 1, Hex("12 34")},
        {"partial then complete", 2, {Hex("12 34 00"), Hex("56 78 00 FF 5A A5 01")}, 2, Hex("56 78")},
        {"partial then bad header",
         2,
         {Hex("12 34 00"), Hex("56 78 00 00 00 00 01"), Hex("9A BC 00 FF 5A A5 01")},
         3,
         Hex("9A BC")},
        {"no answer", 0, {}, 1, Hex("FF FF")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty(kCom);
        ASSERT_TRUE(pty.ok());
        auto net = std::make_unique<CLumo_Net>();
        ASSERT_EQ(net->OpenCOM_IPConverter(kCom, 115200), 1);
        unsigned char out[2] = {0, 0};
        int result;
        Bytes sent;
        {
            ScriptedModule module(pty, c.answers);
            result = net->Skarn_Device(out, c.kind);
            std::this_thread::sleep_for(100ms); // a stray extra query would show here
            sent = module.Received();
        }
        EXPECT_EQ(result, 1);
        EXPECT_EQ(Bytes(out, out + 2), c.out);
        EXPECT_EQ(ToHex(sent), ToHex(Repeat(kQuery, c.queries)));
        EXPECT_EQ(net->m_RecvLen.load(), 0); // the serial answer never passes the mailbox
        net->CloseCOM();
    }
}

TEST(SkarnDevice, OfflineSerialLinkSendsNothingAndGivesFFFF) {
    PtyPair pty(kCom);
    ASSERT_TRUE(pty.ok());
    auto net = std::make_unique<CLumo_Net>();
    ASSERT_EQ(net->OpenCOM_IPConverter(kCom, 9600), 1);
    net->SendState(static_cast<char>(0x80));
    unsigned char out[2] = {0, 0};
    EXPECT_EQ(net->Skarn_Device(out, 0), 1);
    EXPECT_EQ(Bytes(out, out + 2), Hex("FF FF"));
    unsigned char frame[3] = {'a', 'b', 0x0D};
    net->Peltra_Senddata(0, frame, sizeof frame);
    EXPECT_TRUE(pty.ReadUntilIdle(100ms).empty());

    net->SendState(0); // back online: sending resumes
    net->Peltra_Senddata(0, frame, sizeof frame);
    EXPECT_EQ(pty.ReadExact(3), Bytes(frame, frame + 3));
    net->CloseCOM();
}

TEST(SkarnDevice, ClearBufferDropsWaitingInput) {
    PtyPair pty(kCom);
    ASSERT_TRUE(pty.ok());
    auto net = std::make_unique<CLumo_Net>();
    ASSERT_EQ(net->OpenCOM_IPConverter(kCom, 9600), 1);
    ASSERT_TRUE(pty.Write(Hex("01 02 03 04")));
    unsigned char probe[8];
    for (int i = 0; i < 200 && net->ComBytesWaiting() < 4; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(net->Skarn_ClearBuffer(), 1);
    EXPECT_EQ(net->ReadComData(probe, sizeof probe), 0);
    net->CloseCOM();
}
