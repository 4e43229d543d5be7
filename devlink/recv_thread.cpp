// The receive thread of a TCP link: reads what the module sends, cuts it into
// messages by the receive mode (recv_assembly) and hands each one over
// through the mailbox of the owning CLumo_Net.
//
// Hand-over: the thread writes m_RecvBuf only while m_RecvReady is 0. It
// fills m_RecvBuf, stores m_RecvLen and m_RecvSource, and raises m_RecvReady
// last, all with release, so that a consumer whose acquire load sees the flag
// up (or a nonzero m_RecvLen) also sees the bytes. The thread reads the flag
// with acquire, so the consumer's reads of the old message happen before the
// thread overwrites it. Nobody polls: the hand-back (ClearMailbox) wakes the
// thread, and each publication or lost link wakes the waiting side.
#include <chrono>
#include <cstring>
#include <memory>
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

void Lumo_Client::RecvThreadMain() {
    CLumo_Net* const owner = pRecv.owner;
    unsigned char chunk[LUMO_CHUNK_SIZE];
    // Persists across chunks and across messages, like the thread itself.
    static_assert(lumo::RECV_ASSEMBLY_SIZE >= LUMO_MAILBOX_SIZE + 1);
    auto assembly = std::make_unique<unsigned char[]>(lumo::RECV_ASSEMBLY_SIZE);

    for (;;) {
        // Step 1: wait while a published message has not been taken.
        // ClearMailbox (and ShutDown) wake the wait at once. A program that
        // lowers the flag itself is seen within HANDBACK_RECHECK while it
        // takes messages as they come, within HANDBACK_IDLE_RECHECK once a
        // message has waited longer than HANDBACK_ACTIVE.
        const auto since = Clock::now();
        // A consumer that takes each message as it comes hands it back within
        // a few microseconds: look a little before going to sleep, and let
        // a consumer that shares this processor run.
        while (owner->m_RecvReady.load(std::memory_order_acquire) == 1 &&
               Clock::now() - since < HANDBACK_SPIN)
            CpuRelax();
        for (int i = 0; i < HANDBACK_YIELDS && owner->m_RecvReady.load(std::memory_order_acquire) == 1; ++i)
            std::this_thread::yield();
        for (;;) {
            const uint32_t seen = m_HandBacks.Seen();
            if (owner->m_RecvReady.load(std::memory_order_acquire) != 1)
                break;
            if (m_StopRecv.load(std::memory_order_acquire)) {
                owner->m_bConnected.store(0, std::memory_order_release);
                m_Publications.Bump();
                LeaveObjects(RECV_LEFT);
                return;
            }
            const bool active = Clock::now() - since < HANDBACK_ACTIVE;
            m_HandBacks.Wait(seen, active ? HANDBACK_RECHECK : HANDBACK_IDLE_RECHECK);
        }

        int error = 0;
        const long n = lumo::TcpRecv(m_Socket, chunk, sizeof chunk, &error);
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

        owner->TapBytes(LumoTapKind::Received, CLumo_Net::TcpSite(m_strAddr, m_Port), chunk,
                        static_cast<size_t>(n));

        lumo::RecvState st;
        st.type = pRecv.type.load(std::memory_order_relaxed);
        st.len = pRecv.len.load(std::memory_order_relaxed);
        st.got = m_RecvGot.load(std::memory_order_relaxed);
        const lumo::RecvPublish what = lumo::AssembleChunk(st, assembly.get(), chunk, static_cast<int>(n));
        pRecv.type.store(st.type, std::memory_order_relaxed);
        pRecv.len.store(st.len, std::memory_order_relaxed);

        if (what == lumo::RecvPublish::Partial) {
            m_RecvGot.store(st.got, std::memory_order_relaxed);
            Publish(owner, this, assembly.get(), st.got);
            m_Publications.Bump();
        } else if (what == lumo::RecvPublish::Complete) {
            if (owner->m_RecvHold.load(std::memory_order_acquire) != 0) {
                // Held back: the length is shown, the bytes stay in place.
                owner->m_RecvLen.store(st.got, std::memory_order_release);
                m_RecvGot.store(st.got, std::memory_order_relaxed);
                continue;
            }
            Publish(owner, this, assembly.get(), st.got);
            m_RecvGot.store(0, std::memory_order_relaxed);
            m_Publications.Bump();
        } else {
            m_RecvGot.store(st.got, std::memory_order_relaxed);
        }
    }
}
