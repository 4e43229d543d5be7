// The device query on a serial link, with the module played on a pty master.
#include "fake_module.h"
#include "lumo_net.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

using namespace lumo_test;
using namespace std::chrono_literals;

namespace {

constexpr int kCom = 7;
const Bytes kQuery = Hex("55 AA FF 00 01 FE 19 00");

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
        // Answers the n-th query with answers[n], nothing past the list.
        SerialModule module(kCom, kQuery.size());
        ASSERT_TRUE(module.ok());
        for (const Bytes& answer : c.answers)
            module.Reply(answer);
        auto net = std::make_unique<CLumo_Net>();
        ASSERT_EQ(net->OpenCOM_IPConverter(kCom, 115200), 1);
        unsigned char out[2] = {0, 0};
        const int result = net->Skarn_Device(out, c.kind);
        std::this_thread::sleep_for(100ms); // a stray extra query would show here
        const Bytes sent = module.Received();
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
