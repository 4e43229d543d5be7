// bench_session_chunks: exchanges of normal commands, end-mark queries
// (style 17, mode 'z') and line queries (style 5) through the link session
// against lumo-module-sim answering every reply in pieces 20 ms apart,
// on 127.0.5.210 and .211. Prints the wrong answers and the time per
// exchange, beside the same exchanges read the earlier way (the first
// publication taken as the whole answer). Pauses run at a tenth of their
// length so a run takes minutes, not hours.
//
// usage: bench_session_chunks [exchanges [piece bytes]]   (default 1000, half per
// module, in the simulator's 2-byte pieces)
#include "answer_reading.h"
#include "frames.h"
#include "lumo_net.h"
#include "session.h"
#include "sim_process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kPauseScale = 0.1;

// Pauses at a tenth; the last status and box are kept for comparison.
class BenchFront : public session::FrontEnd {
public:
    std::u16string status, box;
    void ShowStatus(const std::u16string& text) override { status = text; }
    void ShowBox(const std::u16string& text, const std::u16string& caption, session::BoxIcon) override {
        box = caption + u": " + text;
    }
    void Sleep(int ms) override {
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(ms * 1000 * kPauseScale)));
    }
    void BeginBusy() override {}
    void EndBusy() override {}
    void TraceCommand(const std::string&) override {}
};

struct Exchange {
    std::u16string command, status, box;
};

std::u16string U(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// The earlier reading: the first publication within 20 polls is the answer.
void firstPublication(CLumo_Net& net, BenchFront& front, const Exchange& e) {
    const char16_t letter = answer::QueryLetter(e.command);
    if (answer::IsDeviceInfoQuery(e.command))
        net.m_Client.SetRecvMode(net.m_ModeChar == 'z' ? RECV_UNTIL_ACK : RECV_COUNT, 300);
    unsigned char frame[300];
    const size_t n = lumo::ZCommandFrame(frame, sizeof frame, net.m_ConnectToPcID, e.command);
    net.Peltra_Senddata(0, frame, static_cast<unsigned>(n));
    std::vector<unsigned char> got;
    for (int attempt = 0; attempt < 20 && got.empty(); ++attempt) {
        const int len = net.m_RecvLen.load(std::memory_order_acquire);
        if (len > 0)
            got.assign(net.m_RecvBuf, net.m_RecvBuf + len);
        else
            front.Sleep(500);
    }
    net.ClearMailbox();
    const long k = static_cast<long>(got.size());
    const bool endMark = net.m_ToPCStyle == 17 && net.m_ModeChar == 'z';
    const answer::Outcome o =
        letter == 0 ? answer::ReadNormalAnswer(got.data(), k, answer::AckWord::WholeLine)
        : endMark   ? answer::ReadUntilEndMark(got.data(), k, letter)
                    : answer::ReadQueryLines(got.data(), k, answer::AckWord::WholeLine, letter);
    front.status = o.status.value_or(u"");
    front.box = o.boxText ? o.boxCaption + u": " + *o.boxText : u"";
}

struct Figures {
    int runs = 0, wrong = 0;
    double seconds = 0;
};

Figures run(const std::string& address, const std::vector<Exchange>& list, int count, bool earlier) {
    Figures f;
    CLumo_Net net;
    BenchFront front;
    session::Session link(net, front);
    if (!link.OpenTcp(U(address), false).ok()) {
        std::fprintf(stderr, "bench_session_chunks: no link to %s\n", address.c_str());
        return f;
    }
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const Exchange& e = list[static_cast<size_t>(i) % list.size()];
        front.status.clear();
        front.box.clear();
        if (earlier)
            firstPublication(net, front, e);
        else
            link.Send(e.command);
        ++f.runs;
        if (front.status != e.status || front.box != e.box)
            ++f.wrong;
    }
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    net.m_ToPCStyle = 0; // close without the disconnect handshake
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf("  %-34s %5d exchanges %5d wrong  %7.1f ms each\n", what, f.runs, f.wrong,
                f.runs ? f.seconds * 1000 / f.runs : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    const int total = argc > 1 ? std::max(2, std::atoi(argv[1])) : 1000;
    const std::string piece = argc > 2 ? std::to_string(std::max(1, std::atoi(argv[2]))) : "2";
    const std::vector<std::string> chunks{"--tcp", "--misbehave", "chunks", "--chunk", piece};
    auto start = [&](simtest::ChildProcess& sim, const std::string& address, const char* style) {
        std::vector<std::string> args{"--address", address, "--id", "6", "--style", style};
        args.insert(args.end(), chunks.begin(), chunks.end());
        return sim.Start(LUMO_MODULE_SIM, args);
    };
    simtest::ChildProcess sim17, sim5;
    if (!start(sim17, "127.0.5.210", "17") || !start(sim5, "127.0.5.211", "5")) {
        std::fprintf(stderr, "bench_session_chunks: the simulator did not start\n");
        return 1;
    }
    const std::vector<Exchange> endMark{
        {u"za 1", u"Ack : OK: command za 1 done\r", u""},
        {u"zh", u"", u"Device Information: Device ID 6 Style 17 Ver 1.00"},
        {u"zw 000000", u"", u"Source position: Position 0 0 1920 1080"},
        {u"ZS", u"", u"Signal Type: Signal 1920x1080 60Hz"},
    };
    const std::vector<Exchange> lines{
        {u"zh", u"Ack : OK: command zh done\r", u"Device Information: Device ID 6 Style 5 Ver 1.00\r"},
        {u"zs", u"Ack : OK: command zs done\r", u"Signal Type: Signal 1920x1080 60Hz\r"},
    };
    std::printf("bench_session_chunks: replies in %s-byte pieces 20 ms apart, pauses at %.0f%%\n",
                piece.c_str(), kPauseScale * 100);
    const int half = total / 2, earlier = std::max(1, half / 10);
    print("style 17 'z', first publication", run("127.0.5.210", endMark, earlier, true));
    print("style 17 'z', link session", run("127.0.5.210", endMark, half, false));
    print("style 5 lines, first publication", run("127.0.5.211", lines, earlier, true));
    print("style 5 lines, link session", run("127.0.5.211", lines, total - half, false));
    return 0;
}
