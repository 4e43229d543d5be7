// The receive thread of a TCP link: reads what the module sends, cuts it into
// messages by the receive mode (recv_assembly) and hands each one over
// through the mailbox of the owning CLumo_Net.
//
// Who reads: the thread, except while the waiting side (Check_Return,
// WaitMailbox) is lent the reading. A waiter that finds the thread reading
// asks for it; the thread lends it after its next chunk and parks. From then
// on the waiter reads the socket itself while it waits, so that an exchange
// costs one sleep and one wake, as on a plain socket, instead of two of each
// and a wake from one thread to the other. A send first drops what came
// since the last wait (it would have been published and emptied). The
// parked thread takes the reading back once the waiting side has not read
// for LEASE_IDLE, and whenever the waiting side meets the end of the link,
// which the thread then reports as its own.
//
// Hand-over: the reader writes m_RecvBuf only while m_RecvReady is 0. It
// fills m_RecvBuf, stores m_RecvLen and m_RecvSource, and raises m_RecvReady
// last, all with release, so that a consumer whose acquire load sees the flag
// up (or a nonzero m_RecvLen) also sees the bytes. The reader loads the flag
// with acquire, so the consumer's reads of the old message happen before it
// is overwritten. The hand-back (ClearMailbox) wakes the thread, and each
// publication or lost link wakes the waiting side; only a thread parked
// while the reading is lent looks every LEASE_IDLE whether it is still used.
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "lumo_net.h"
#include "posix_futex.h"
#include "posix_socket.h"
#include "recv_assembly.h"

namespace {

constexpr int ERR_CONNRESET = 10054;

using Clock = std::chrono::steady_clock;
constexpr auto HANDBACK_SPIN = std::chrono::microseconds(3);
constexpr int HANDBACK_YIELDS = 3;
constexpr auto HANDBACK_ACTIVE = std::chrono::milliseconds(20);
constexpr auto HANDBACK_RECHECK = std::chrono::microseconds(500);
constexpr auto HANDBACK_IDLE_RECHECK = std::chrono::milliseconds(30); // 34 wake-ups a second
constexpr auto LEASE_IDLE = std::chrono::milliseconds(5);
constexpr auto END_REPORT_LIMIT = std::chrono::seconds(1); // a thread held off the processor that long

void Publish(CLumo_Net* owner, Lumo_Client* source, const unsigned char* bytes, int count) {
    std::memcpy(owner->m_RecvBuf, bytes, static_cast<size_t>(count));
    owner->m_RecvLen.store(count, std::memory_order_release);
    owner->m_RecvSource.store(source, std::memory_order_release);
    owner->m_RecvReady.store(1, std::memory_order_release);
}

// Tells the processor that the thread spins on a flag.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    asm volatile("yield");
#endif
}

} // namespace

void Lumo_Client::LeaveObjects(uint32_t how) {
    // A private futex wake uses only the address: harmless if ShutDown's
    // caller has freed the object by the time it runs.
    m_RecvEnd.store(how, std::memory_order_release);
    lumo::FutexWakeAll(m_RecvEnd);
}

bool Lumo_Client::AwaitHandBack(CLumo_Net* owner) {
    // ClearMailbox (and ShutDown) wake the wait at once. A program that
    // lowers the flag itself is seen within HANDBACK_RECHECK while it takes
    // messages as they come, within HANDBACK_IDLE_RECHECK once a message has
    // waited longer than HANDBACK_ACTIVE.
    if (owner->m_RecvReady.load(std::memory_order_acquire) != 1)
        return true;
    const auto since = Clock::now();
    // A consumer that takes each message as it comes hands it back within
    // a few microseconds: look a little before going to sleep, and let a
    // consumer that shares this processor run.
    while (owner->m_RecvReady.load(std::memory_order_acquire) == 1 && Clock::now() - since < HANDBACK_SPIN)
        CpuRelax();
    for (int i = 0; i < HANDBACK_YIELDS && owner->m_RecvReady.load(std::memory_order_acquire) == 1; ++i)
        std::this_thread::yield();
    for (;;) {
        const uint32_t seen = m_HandBacks.Seen();
        if (owner->m_RecvReady.load(std::memory_order_acquire) != 1)
            return true;
        if (m_StopRecv.load(std::memory_order_acquire))
            return false;
        const bool active = Clock::now() - since < HANDBACK_ACTIVE;
        m_HandBacks.Wait(seen, active ? HANDBACK_RECHECK : HANDBACK_IDLE_RECHECK);
    }
}

bool Lumo_Client::AwaitReading() {
    for (;;) {
        const uint32_t reader = m_Reader.load(std::memory_order_acquire);
        if (reader == READER_THREAD || reader == READER_WANTED)
            return true;
        if (m_StopRecv.load(std::memory_order_acquire))
            return false;
        const uint32_t uses = m_LeaseUses.load(std::memory_order_relaxed);
        const auto since = Clock::now();
        lumo::FutexWait(m_Reader, reader, LEASE_IDLE);
        // Not read for a whole period: the thread reads again.
        uint32_t lent = READER_LENT;
        if (m_LeaseUses.load(std::memory_order_relaxed) == uses && Clock::now() - since >= LEASE_IDLE)
            m_Reader.compare_exchange_strong(lent, READER_THREAD, std::memory_order_acq_rel);
    }
}

bool Lumo_Client::TakeChunk(CLumo_Net* owner, const unsigned char* chunk, int n) {
    // The mode and progress are read, advanced and written back, and the
    // result published, in one step that a mode set (SetRecvMode, a send)
    // cannot split: it either comes first and the chunk is cut by the new
    // mode, or comes after and finds the step done, its publication emptied
    // by the send.
    std::lock_guard lock(m_ModeMutex);
    lumo::RecvState st;
    st.type = pRecv.type.load(std::memory_order_relaxed);
    st.len = pRecv.len.load(std::memory_order_relaxed);
    st.got = m_RecvGot.load(std::memory_order_relaxed);
    const lumo::RecvPublish what = lumo::AssembleChunk(st, m_Assembly.get(), chunk, n);
    pRecv.type.store(st.type, std::memory_order_relaxed);
    pRecv.len.store(st.len, std::memory_order_relaxed);
    if (what == lumo::RecvPublish::Partial) {
        m_RecvGot.store(st.got, std::memory_order_relaxed);
        Publish(owner, this, m_Assembly.get(), st.got);
        return true;
    }
    if (what == lumo::RecvPublish::Complete && owner->m_RecvHold.load(std::memory_order_acquire) != 0) {
        // Held back: the length is shown, the bytes stay in place.
        owner->m_RecvLen.store(st.got, std::memory_order_release);
        m_RecvGot.store(st.got, std::memory_order_relaxed);
        return false;
    }
    if (what == lumo::RecvPublish::Complete) {
        m_RecvGot.store(0, std::memory_order_relaxed);
        Publish(owner, this, m_Assembly.get(), st.got);
        return true;
    }
    m_RecvGot.store(st.got, std::memory_order_relaxed);
    return false;
}

void Lumo_Client::ReadAsWaiter(int timeoutMs, bool drop) {
    CLumo_Net* const owner = pRecv.owner;
    unsigned char chunk[LUMO_CHUNK_SIZE];
    bool ended = false;
    for (;;) {
        if (!drop && owner->m_RecvReady.load(std::memory_order_acquire) == 1)
            break; // a message nobody took yet: nothing more is published
        if (!drop && lumo::TcpWaitReadable(m_Socket, timeoutMs) == 0)
            break;
        int error = 0;
        const long n = lumo::TcpRecvNow(m_Socket, chunk, sizeof chunk, &error);
        if (n < 0 && error == EAGAIN)
            break;
        if (n <= 0) {
            // The end of the link: the thread reports it as its own.
            m_WaiterEnd.store(n == 0 ? 1 : -error, std::memory_order_relaxed);
            ended = true;
            break;
        }
        owner->TapBytes(LumoTapKind::Received, CLumo_Net::TcpSite(m_strAddr, m_Port), chunk,
                        static_cast<size_t>(n));
        if (!drop) {
            if (TakeChunk(owner, chunk, static_cast<int>(n)))
                m_Publications.Bump();
            break;
        }
    }
    m_LeaseUses.fetch_add(1, std::memory_order_relaxed);
    m_Reader.store(ended ? READER_THREAD : READER_LENT, std::memory_order_release);
    if (!ended)
        return;
    // The thread takes the end up at once; the waiter goes on only once it
    // has (the link is down, the loss recorded, its notice or box on its
    // way), as when the thread had met the end itself.
    lumo::FutexWakeAll(m_Reader);
    const auto until = Clock::now() + END_REPORT_LIMIT;
    while (m_RecvEnd.load(std::memory_order_acquire) == RECV_RUNNING && Clock::now() < until)
        lumo::FutexWait(m_RecvEnd, RECV_RUNNING, std::chrono::milliseconds(10));
}

bool Lumo_Client::BorrowReading() {
    uint32_t lent = READER_LENT;
    return m_Reader.compare_exchange_strong(lent, READER_WAITER, std::memory_order_acq_rel);
}

void Lumo_Client::WaitPublication(uint32_t seen, int timeoutMs) {
    if (pRecv.owner != nullptr && pRecv.owner->m_RecvReady.load(std::memory_order_acquire) != 1 &&
        BorrowReading()) {
        ReadAsWaiter(timeoutMs, false);
        return;
    }
    uint32_t reader = READER_THREAD;
    m_Reader.compare_exchange_strong(reader, READER_WANTED, std::memory_order_acq_rel);
    m_Publications.Wait(seen, std::chrono::milliseconds(timeoutMs));
}

void Lumo_Client::DropUnread() {
    if (BorrowReading())
        ReadAsWaiter(0, true);
}

void Lumo_Client::RecvThreadMain() {
    CLumo_Net* const owner = pRecv.owner;
    unsigned char chunk[LUMO_CHUNK_SIZE];
    auto stop = [&] {
        owner->m_bConnected.store(0, std::memory_order_release);
        m_Publications.Bump();
        LeaveObjects(RECV_LEFT);
    };

    for (;;) {
        if (!AwaitReading())
            return stop();
        // The thread sits in the receive call even while a message waits to
        // be taken: an exchange then needs no wake for the hand-back. What
        // arrives meanwhile is held (step 1) until the message is taken, and
        // only then cut by the receive mode in force.
        int error = 0;
        long n;
        if (const int end = m_WaiterEnd.exchange(0, std::memory_order_relaxed); end != 0) {
            n = end > 0 ? 0 : -1; // what the waiting side met
            error = end > 0 ? 0 : -end;
        } else {
            n = lumo::TcpRecv(m_Socket, chunk, sizeof chunk, &error);
        }
        if (n > 0)
            owner->TapBytes(LumoTapKind::Received, CLumo_Net::TcpSite(m_strAddr, m_Port), chunk,
                            static_cast<size_t>(n));

        // Step 1: a message published and not yet taken keeps what came
        // after it, the end of the link included, waiting.
        if (!AwaitHandBack(owner))
            return stop();

        if (n <= 0) {
            owner->m_bConnected.store(0, std::memory_order_release);
            owner->m_RecvReady.store(0, std::memory_order_release);
            m_Publications.Bump(); // a waiting side stops waiting
            // Our own ShutDown ends the receive too: that is no loss of link.
            const bool lost = !m_StopRecv.load(std::memory_order_acquire);
            const bool reset = n < 0 && lumo::SocketErrorCode(error) == ERR_CONNRESET;
            if (lost)
                owner->TapEvent(LumoTapEvent::LinkLost, CLumo_Net::TcpSite(m_strAddr, m_Port),
                                n < 0 ? error : 0);
            // The last call runs on copies, after the thread has let go of
            // the objects: the owner may reconnect, close or destroy them
            // from within it, and closing never waits for it.
            LumoOwnerWnd notice;
            std::wstring text;
            if (lost && (n == 0 || reset)) {
                notice = owner->m_hOwnerWnd;
                if (!notice && reset)
                    text = L"Recvthread Error!! Didn't Connect to " + m_strAddr;
            }
            if (notice) {
                LeaveObjects(RECV_LAST_CALL);
                notice(LUMO_WM_LINK_LOST, 2, 0);
            } else if (!text.empty()) {
                owner->TapBox(text, L"Error"); // while the thread still holds the object
                LeaveObjects(RECV_LAST_CALL);
                LumoShowMessage(text, L"Error");
            } else {
                LeaveObjects(RECV_LEFT);
            }
            return; // exit code m_HostNo * 65536 + m_Port: nobody reads it
        }

        if (TakeChunk(owner, chunk, static_cast<int>(n)))
            m_Publications.Bump();
        // A waiter asked for the reading: it reads from now on.
        uint32_t wanted = READER_WANTED;
        if (m_Reader.compare_exchange_strong(wanted, READER_LENT, std::memory_order_acq_rel))
            m_Publications.Bump();
    }
}
