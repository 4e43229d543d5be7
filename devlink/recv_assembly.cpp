#include "recv_assembly.h"

#include <algorithm>
#include <cstring>

#include "frames.h"

namespace lumo {
namespace {

// Whether a whole 00 FF 5A A5 lies in the concatenation head[0..headLen) +
// tail[0..tailLen). Only complete occurrences count.
bool FindAckHeader(const unsigned char *head, int headLen, const unsigned char *tail, int tailLen) {
    const int total = headLen + tailLen;
    auto at = [&](int i) { return i < headLen ? head[i] : tail[i - headLen]; };
    for (int i = 0; i + 4 <= total; ++i) {
        if (at(i) == ACK_HEADER[0] && at(i + 1) == ACK_HEADER[1] && at(i + 2) == ACK_HEADER[2] &&
            at(i + 3) == ACK_HEADER[3])
            return true;
    }
    return false;
}

} // namespace

RecvPublish AssembleChunk(RecvState &st, unsigned char *assembly, const unsigned char *chunk, int n) {
    if (n <= 0)
        return RecvPublish::None;
    if (st.got < 0 || st.got > LUMO_MAILBOX_SIZE)
        st.got = 0; // nothing outside the area can have been assembled
    const bool fixed13 = st.type == RECV_FIXED13 && n < 13;
    const bool untilAck = st.type == RECV_UNTIL_ACK;

    // Bytes of the previous chunks that a header could straddle into this one.
    const int overlap = std::min(st.got, 3);
    if (st.got + n > LUMO_MAILBOX_SIZE) {
        bool completes;
        if (fixed13)
            completes = false; // exactly 13 cannot lie past the limit
        else if (untilAck)
            completes = FindAckHeader(assembly + st.got - overlap, overlap, chunk, n);
        else
            completes = st.len - n <= 0;
        if (completes) {
            // The whole message does not fit the mailbox: it is published empty.
            if (untilAck) {
                st.type = RECV_COUNT;
                st.len = 0;
            } else {
                st.type = RECV_IDLE;
                st.len = RECV_IDLE_LEN;
            }
            st.got = 0;
            assembly[0] = 0;
            return RecvPublish::Complete;
        }
        st.got = 0; // drop the half-built message; this chunk starts a new one
    }

    const int before = st.got;
    std::memcpy(assembly + st.got, chunk, static_cast<size_t>(n));
    st.got += n;

    if (fixed13) {
        st.len = 13 - n;
        if (st.got != 13)
            return RecvPublish::None;
        st.type = RECV_COUNT;
        st.len = 0;
    } else if (untilAck) {
        st.len = 200;
        // Earlier bytes held no header (the message would have ended), so the
        // search starts where a header could first reach into this chunk.
        const int from = before - std::min(before, 3);
        if (!FindAckHeader(assembly + from, st.got - from, nullptr, 0))
            return RecvPublish::None;
        st.type = RECV_COUNT;
        st.len = 0;
    } else {
        st.len -= n;
        if (st.len > 0)
            return RecvPublish::Partial;
        st.len = RECV_IDLE_LEN;
        st.type = RECV_IDLE;
    }
    assembly[st.got] = 0;
    return RecvPublish::Complete;
}

bool EndsMessage(int32_t type, int32_t len) {
    return (type == RECV_IDLE && len == RECV_IDLE_LEN) || (type == RECV_COUNT && len == 0);
}

} // namespace lumo
