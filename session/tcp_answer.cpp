#include "tcp_answer.h"

#include <algorithm>

#include "answer_reading.h"
#include "frames.h"
#include "lumo_net.h"

namespace session {

namespace {

bool IsAckFrame(const uint8_t* p, size_t n) {
    return n >= static_cast<size_t>(lumo::ACK_FRAME_LEN) && lumo::AckHeader(p);
}

} // namespace

bool AnswerComplete(TcpReading reading, const uint8_t* p, size_t n) {
    switch (reading) {
    case TcpReading::NormalLine:
        return answer::FindLineFeed(p, 0, n) >= 0 || IsAckFrame(p, n);
    case TcpReading::QueryLines: {
        const long first = answer::FindLineFeed(p, 0, n);
        if (first < 0)
            return false;
        const std::u16string line1 = answer::ReplyText(p, static_cast<size_t>(first));
        return answer::FindCommandWord(line1) != std::u16string::npos ||
               answer::FindLineFeed(p, static_cast<size_t>(first) + 1, n) >= 0;
    }
    case TcpReading::EndMark:
        return answer::FindEndMark(p, n) >= 0;
    }
    return false;
}

std::chrono::microseconds WaitPublication(CLumo_Net& net, FrontEnd& front, int ms) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    // WaitMailbox returns at once while the link is down; Await then pauses.
    const bool published = front.Await(ms, [&net](int sliceMs) { return net.WaitMailbox(sliceMs); });
    if (!published)
        return std::chrono::milliseconds(ms);
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
}

std::vector<uint8_t> TakeTcpAnswer(CLumo_Net& net, FrontEnd& front, TcpReading reading) {
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> finished; // messages the receive thread has finished, joined
    std::vector<uint8_t> answer;   // finished + the latest publication
    const std::chrono::microseconds limit = std::chrono::milliseconds(kTcpWaitLimitMs);
    std::chrono::microseconds waited{0};
    for (;;) {
        // read once: a torn or out-of-range value must never size the copy
        const int len = std::clamp(net.m_RecvLen.load(std::memory_order_acquire), 0, LUMO_MAILBOX_SIZE);
        if (len > 0) {
            const bool ends = net.PublishedMessageEnds();
            const size_t room = static_cast<size_t>(LUMO_MAILBOX_SIZE) - finished.size();
            answer = finished;
            answer.insert(answer.end(), net.m_RecvBuf, net.m_RecvBuf + std::min<size_t>(len, room));
            // taken: the receive thread may go on (and publish the rest)
            net.ClearMailbox();
            if (ends)
                finished = answer;
            if (AnswerComplete(reading, answer.data(), answer.size()))
                break;
        } else if (net.m_RecvReady.load(std::memory_order_acquire) == 1) {
            net.ClearMailbox(); // an empty message (the thread drops an oversized one): go on
        }
        if (waited >= limit)
            break;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(limit - waited).count();
        if (!answer.empty()) {
            // An answer that stops short is all the module says once it has
            // been quiet for LUMO_QUIET_MS: the module's own pace, in real
            // time whatever pace the front end keeps (its wait hook repaints).
            const auto start = Clock::now();
            const bool more = net.WaitMailbox(static_cast<int>(std::min<long long>(LUMO_QUIET_MS, left)));
            waited += std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
            if (!more)
                break; // quiet, or the link is down
            continue;
        }
        // steps of 500 ms as the console always polled, the last one cut to the bound
        waited += WaitPublication(net, front, static_cast<int>(std::min<long long>(kTcpWaitStepMs, left)));
    }
    // the mailbox goes back even when nothing came
    net.ClearMailbox();
    return answer;
}

} // namespace session
