// Taking a module's answer over TCP from the receive thread's mailbox: wait
// for publications until the answer is complete, within the console's bound
// of 20 waits of 500 ms. Blocks the calling thread; one caller at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "front_end.h"

class CLumo_Net;

namespace session {

inline constexpr int kTcpWaitStepMs = 500;
inline constexpr int kTcpWaitLimitMs = 20 * kTcpWaitStepMs;

// How the answer being taken is read, and so when it is complete.
enum class TcpReading {
    NormalLine, // a line feed, or a whole AckFrame (00 FF 5A A5 and its status byte)
    QueryLines, // two lines, or a first line holding "command"/"Command"
    EndMark,    // the end mark 00 FF 5A A5 01
};

// Whether p[0..n) is a complete answer for the reading.
bool AnswerComplete(TcpReading reading, const uint8_t* p, size_t n);

// Waits at most ms milliseconds for the receive thread of net to publish,
// through front.Await (so a front end keeps painting), and returns how long
// it waited: the whole ms when nothing came, else the time until the
// publication woke it. While the link is down nothing can come, and the
// wait pauses through the whole ms.
std::chrono::microseconds WaitPublication(CLumo_Net& net, FrontEnd& front, int ms);

// Takes the answer to the frame just sent: each publication is copied and the
// mailbox handed back; an incomplete one is followed by the next, longer one,
// and a message the receive thread has finished is joined by the one after
// it. Stops when the answer is complete, when an incomplete answer has had
// no further piece for LUMO_QUIET_MS (real time), or after kTcpWaitLimitMs
// of waiting (a wait that nothing ended counts whole, one that a
// publication ended counts the time it took).
// Returns the bytes taken (at most the mailbox size).
std::vector<uint8_t> TakeTcpAnswer(CLumo_Net& net, FrontEnd& front, TcpReading reading);

} // namespace session
