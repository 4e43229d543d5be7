// The module end of a link, played by a test: on TCP at the test's own
// loopback address, on the UDP text port, or on a pseudo-terminal standing in
// for COM<N>. A TCP module can be driven step by step (Accept, Send, Read);
// every kind can also answer on a thread of its own: it records the units the
// link sends (a TCP chunk, a datagram, a serial line or frame) and answers
// each with the next scripted reply.
#pragma once

#include "loopback.h"
#include "lumo_net.h"
#include "pty_pair.h"
#include "test_bytes.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lumo_test {

// Normal 7-byte greeting: identifier, style.
Bytes Greeting(unsigned char id, unsigned char style);
// 17-byte X-mode greeting: byte 0 table entry, 12 id, 14 style - 26, 16 socket.
Bytes XGreeting(unsigned char entry, unsigned char id, unsigned char style26, unsigned char socketNo);
// A style-17 module's answer to the mode query.
Bytes ModeReply(unsigned char id, char modeChar);

// What a module answering on its own thread has received, and its replies.
class ScriptedModule {
public:
    ScriptedModule(const ScriptedModule&) = delete;
    ScriptedModule& operator=(const ScriptedModule&) = delete;

    // Queues the reply to the next unit received (an empty one: no answer),
    // sent `delay` after the unit came.
    void Reply(const Bytes& reply, milliseconds delay = milliseconds(0));
    // Every byte received so far, in order, and the same unit by unit.
    Bytes Received() const;
    std::vector<Bytes> Units() const;
    // Waits until `count` bytes have come or the time-out passed; what came.
    Bytes WaitReceived(size_t count, milliseconds timeout = milliseconds(3000)) const;
    // Forgets what was received; queued replies stay.
    void Clear();

protected:
    ScriptedModule() = default;
    ~ScriptedModule(); // a derived module calls Stop() before its link goes
    // Runs `serve` on the module's thread; it returns soon after Stopping().
    void Start(std::function<void()> serve);
    void Stop();
    bool Stopping() const { return m_Stop; }
    // Records a unit; the reply scripted for it, once its delay has passed.
    Bytes Take(const Bytes& unit);

private:
    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_Changed;
    std::deque<std::pair<Bytes, milliseconds>> m_Replies;
    Bytes m_Received;
    std::vector<Bytes> m_Units;
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};

// A module listening on address:port. Step by step or Serve, not both.
class TcpModule : public ScriptedModule {
public:
    explicit TcpModule(const std::string& address, int port = LUMO_MODULE_PORT);
    ~TcpModule();

    bool ok() const { return m_Listener.ok(); }
    std::wstring Address() const { return std::wstring(m_Address.begin(), m_Address.end()); }

    // Accepts the next link (the previous one is closed).
    bool Accept(milliseconds timeout = milliseconds(5000));
    bool Send(const Bytes& bytes) { return m_Link.Send(bytes); }
    // Exactly n bytes, fewer when the link closes or the time-out passes.
    Bytes Read(size_t n, milliseconds timeout = milliseconds(5000)) { return m_Link.RecvExact(n, timeout); }
    // Whether the device link closed its end.
    bool SeesClose(milliseconds timeout = milliseconds(5000)) { return m_Link.WaitClosed(timeout); }
    void Reset() { m_Link.Reset(); }
    void Close() { m_Link.Close(); }

    // On the module's thread, link after link: greets with the next of
    // `greetings` (the last one again once they run out), then answers every
    // chunk from the script until the device link closes.
    void Serve(std::vector<Bytes> greetings);
    int Accepted() const { return m_Accepted; }
    int Closed() const { return m_Closed; }

private:
    std::string m_Address;
    TcpListener m_Listener;
    TcpConnection m_Link;
    std::atomic<int> m_Accepted{0};
    std::atomic<int> m_Closed{0};
};

// The module's UDP text port address:20037; each datagram is a unit,
// answered to its sender.
class UdpModule : public ScriptedModule {
public:
    explicit UdpModule(const std::string& address);
    ~UdpModule();
    bool ok() const { return m_Peer.ok(); }

private:
    UdpPeer m_Peer;
};

// A module on the pty that stands in for COM<comNumber>; a unit is a line
// ending in a carriage return or, when frameSize is given, that many bytes.
class SerialModule : public ScriptedModule {
public:
    explicit SerialModule(int comNumber, size_t frameSize = 0);
    ~SerialModule();
    bool ok() const { return m_Pty.ok(); }

private:
    PtyPair m_Pty;
};

// Polls `done` every millisecond until it holds or the time-out passes.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// Copies what the mailbox holds and hands it back by writing the fields, as
// a program on the shared library may.
Bytes TakeMailbox(CLumo_Net& net);

// Connects net to the module, which greets with `greeting` from a thread of
// its own; NetConnect_IPEPC's result.
int ConnectGreeted(CLumo_Net& net, TcpModule& module, const Bytes& greeting, unsigned char mode = 0,
                   unsigned char* out = nullptr);

} // namespace lumo_test
