// Receive-mode assembly from tables of chunks: what each chunk publishes and
// the mode it leaves behind.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "recv_assembly.h"

using lumo::AssembleChunk;
using lumo::RecvPublish;
using lumo::RecvState;
using Bytes = std::vector<unsigned char>;

namespace {

struct Step {
    Bytes chunk;
    RecvPublish what;
    int got;  // bytes assembled (published length on Partial/Complete)
    int type; // mode after the chunk
    int len;  // len after the chunk
};

struct Case {
    const char *name;
    int type, len;
    std::vector<Step> steps;
};

void PrintTo(const Case &c, std::ostream *os) {
    *os << c.name;
}

Bytes Fill(size_t n, unsigned char v) {
    return Bytes(n, v);
}
Bytes Cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kAck = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

class AssemblyTable : public ::testing::TestWithParam<Case> {};

TEST_P(AssemblyTable, PublishesByMode) {
    const Case &c = GetParam();
    RecvState st{c.type, c.len, 0};
    std::vector<unsigned char> area(lumo::RECV_ASSEMBLY_SIZE, 0xEE);
    Bytes all;
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step &s = c.steps[i];
        SCOPED_TRACE(i);
        all.insert(all.end(), s.chunk.begin(), s.chunk.end());
        EXPECT_EQ(AssembleChunk(st, area.data(), s.chunk.data(), static_cast<int>(s.chunk.size())), s.what);
        EXPECT_EQ(st.got, s.got);
        EXPECT_EQ(st.type, s.type);
        EXPECT_EQ(st.len, s.len);
        if (s.what == RecvPublish::Complete) {
            EXPECT_EQ(area[static_cast<size_t>(st.got)], 0); // terminated
            st.got = 0;                                      // published: the thread starts afresh
            all.clear();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AssemblyTable,
    ::testing::Values(
        Case{"AckInOneChunk", RECV_COUNT, 5, {{kAck, RecvPublish::Complete, 5, RECV_IDLE, 1000}}},
        Case{"AckAsThreeThenTwo",
             RECV_COUNT,
             5,
             {{{0x00, 0xFF, 0x5A}, RecvPublish::Partial, 3, RECV_COUNT, 2},
              {{0xA5, 0x01}, RecvPublish::Complete, 5, RECV_IDLE, 1000}}},
        Case{"Fixed13AsSixAndSeven",
             RECV_FIXED13,
             13,
             {{Fill(6, 1), RecvPublish::None, 6, RECV_FIXED13, 7},
              {Fill(7, 2), RecvPublish::Complete, 13, RECV_COUNT, 0}}},
        Case{"Fixed13PassedWithoutHitting",
             RECV_FIXED13,
             13,
             {{Fill(6, 1), RecvPublish::None, 6, RECV_FIXED13, 7},
              {Fill(6, 1), RecvPublish::None, 12, RECV_FIXED13, 7},
              {Fill(6, 1), RecvPublish::None, 18, RECV_FIXED13, 7}}},
        Case{"Fixed13WholeChunkCountsDown",
             RECV_FIXED13,
             13,
             {{Fill(13, 3), RecvPublish::Complete, 13, RECV_IDLE, 1000}}},
        Case{"Fixed13LongChunkAfterShortOne",
             RECV_FIXED13,
             13,
             {{Fill(6, 1), RecvPublish::None, 6, RECV_FIXED13, 7},
              {Fill(20, 2), RecvPublish::Complete, 26, RECV_IDLE, 1000}}},
        Case{"UntilAckAcrossChunks",
             RECV_UNTIL_ACK,
             300,
             {{{'i', 'n', 'f', 'o', '\n'}, RecvPublish::None, 5, RECV_UNTIL_ACK, 200},
              {{0x00, 0xFF}, RecvPublish::None, 7, RECV_UNTIL_ACK, 200},
              {{0x5A, 0xA5, 0x01}, RecvPublish::Complete, 10, RECV_COUNT, 0}}},
        Case{"UntilAckNeedsWholeHeader",
             RECV_UNTIL_ACK,
             300,
             {{{'a', 0x00, 0xFF, 0x5A}, RecvPublish::None, 4, RECV_UNTIL_ACK, 200},
              {{0x5B, 0xA5}, RecvPublish::None, 6, RECV_UNTIL_ACK, 200}}},
        Case{"IdleRestartsPastAThousand",
             RECV_IDLE,
             1000,
             {{Fill(400, 7), RecvPublish::Partial, 400, RECV_IDLE, 600},
              {Fill(400, 7), RecvPublish::Partial, 800, RECV_IDLE, 200},
              {Fill(400, 7), RecvPublish::Complete, 1200, RECV_IDLE, 1000},
              {Fill(400, 7), RecvPublish::Partial, 400, RECV_IDLE, 600},
              {Fill(400, 7), RecvPublish::Partial, 800, RECV_IDLE, 200},
              {Fill(400, 7), RecvPublish::Complete, 1200, RECV_IDLE, 1000},
              {Fill(100, 7), RecvPublish::Partial, 100, RECV_IDLE, 900}}}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// Feeds 4096-byte chunks; returns the publications' lengths.
struct Fed {
    std::vector<RecvPublish> what;
    int maxGot = 0;
};
Fed FeedChunks(RecvState &st, int chunks, const Bytes &last = {}) {
    std::vector<unsigned char> area(lumo::RECV_ASSEMBLY_SIZE);
    Fed fed;
    const Bytes chunk = Fill(LUMO_CHUNK_SIZE, 'x');
    for (int i = 0; i < chunks + (last.empty() ? 0 : 1); ++i) {
        const Bytes &c = i < chunks ? chunk : last;
        fed.what.push_back(AssembleChunk(st, area.data(), c.data(), static_cast<int>(c.size())));
        fed.maxGot = std::max(fed.maxGot, st.got);
    }
    return fed;
}

TEST(AssemblyBound, UntilAckNeverPassesTheMailbox) {
    RecvState st{RECV_UNTIL_ACK, 300, 0};
    const Fed fed = FeedChunks(st, 20);
    EXPECT_LE(fed.maxGot, LUMO_MAILBOX_SIZE);
    EXPECT_EQ(st.got, (20 * LUMO_CHUNK_SIZE) % (7 * LUMO_CHUNK_SIZE)); // restarted at chunk 8 and 15
    for (RecvPublish w : fed.what)
        EXPECT_EQ(w, RecvPublish::None);
}

TEST(AssemblyBound, UntilAckCompletedPastTheLimitPublishesEmpty) {
    RecvState st{RECV_UNTIL_ACK, 300, 0};
    const Fed fed = FeedChunks(st, 7, Cat(Fill(4000, 'y'), kAck));
    EXPECT_EQ(fed.what.back(), RecvPublish::Complete);
    EXPECT_EQ(st.got, 0);
    EXPECT_EQ(st.type, RECV_COUNT);
}

TEST(AssemblyBound, CountedMessagePastTheLimitPublishesEmpty) {
    RecvState st{RECV_COUNT, 30800, 0};
    const Fed fed = FeedChunks(st, 8);
    EXPECT_EQ(fed.what[6], RecvPublish::Partial);
    EXPECT_EQ(fed.what[7], RecvPublish::Complete);
    EXPECT_EQ(st.got, 0);
    EXPECT_EQ(st.type, RECV_IDLE);
    EXPECT_EQ(st.len, 1000);
}

TEST(AssemblyBound, LongCountedMessageRestartsInsteadOfOverrunning) {
    RecvState st{RECV_COUNT, 100000, 0};
    const Fed fed = FeedChunks(st, 9);
    EXPECT_LE(fed.maxGot, LUMO_MAILBOX_SIZE);
    EXPECT_EQ(st.got, 2 * LUMO_CHUNK_SIZE); // chunk 8 started a new message
    EXPECT_EQ(fed.what.back(), RecvPublish::Partial);
}

TEST(AssemblyBound, ExactlyTheMailboxFits) {
    RecvState st{RECV_COUNT, LUMO_MAILBOX_SIZE, 0};
    const Fed fed = FeedChunks(st, 7, Fill(LUMO_MAILBOX_SIZE - 7 * LUMO_CHUNK_SIZE, 'z'));
    EXPECT_EQ(fed.what.back(), RecvPublish::Complete);
    EXPECT_EQ(st.got, LUMO_MAILBOX_SIZE);
}

} // namespace
