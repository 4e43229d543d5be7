// Receive-mode state machine of the TCP receive thread: cuts the chunks the
// module sends into messages. Plain C++, no I/O; the receive thread feeds
// every chunk it reads and publishes what the result asks for.
#pragma once

#include <cstdint>

#include "lumo_net.h"

namespace lumo {

// Assembly area: the mailbox size plus room for the terminating zero.
inline constexpr int RECV_ASSEMBLY_SIZE = LUMO_MAILBOX_SIZE + 3;

// Bytes to go that a counted message's end leaves (with mode 99).
inline constexpr int32_t RECV_IDLE_LEN = 1000;

// What a chunk asks the receive thread to do.
enum class RecvPublish {
    None,     // keep collecting, publish nothing
    Partial,  // publish the `got` bytes assembled so far, keep them
    Complete, // the message is whole: publish `got` bytes, then start afresh
};

// The receive mode and progress: `type` and `len` of RecvParam and the
// socket object's m_RecvGot, taken once per chunk.
struct RecvState {
    int32_t type = RECV_COUNT;
    int32_t len = 0;
    int32_t got = 0;
};

// Appends chunk[0..n) (1 <= n <= LUMO_CHUNK_SIZE) to `assembly`
// (RECV_ASSEMBLY_SIZE bytes) at offset st.got and advances the mode:
//   7  (chunk < 13 bytes): complete when exactly 13 bytes are in, mode 0;
//      a chunk of 13 bytes or more is handled as mode 0;
//   8  complete once a whole 00 FF 5A A5 lies in the assembled bytes, mode 0;
//   0, 99 and any other value: count `len` down, partial publication while it
//      stays above 0, else complete and switch to mode 99 with len 1000.
// Never writes past LUMO_MAILBOX_SIZE bytes: a half-built message that the
// chunk would push past it is dropped and the chunk starts a new one; a
// message completed by such a chunk is published empty (st.got 0).
// On Complete the assembled bytes are followed by a zero byte; st.got is the
// message length and the caller resets it after publication.
RecvPublish AssembleChunk(RecvState &st, unsigned char *assembly, const unsigned char *chunk, int n);

// Whether a mode and count are what AssembleChunk leaves when it completes a
// message (99 with RECV_IDLE_LEN to go, or 0 with none), rather than the
// bytes still to go of a partial one.
bool EndsMessage(int32_t type, int32_t len);

} // namespace lumo
