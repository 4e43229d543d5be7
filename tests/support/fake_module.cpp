#include "fake_module.h"

#include "fd_io.h"

#include <algorithm>

namespace lumo_test {

using detail::Clock;

namespace {
// How often a module's thread looks at its stop flag.
constexpr milliseconds kSlice(100);
} // namespace

Bytes Greeting(unsigned char id, unsigned char style) {
    return {id, style, 0, 0, 0, 0, 0};
}

Bytes XGreeting(unsigned char entry, unsigned char id, unsigned char style26, unsigned char socketNo) {
    Bytes g(17, 0);
    g[0] = entry;
    g[12] = id;
    g[14] = style26;
    g[16] = socketNo;
    return g;
}

Bytes ModeReply(unsigned char id, char modeChar) {
    const auto address = static_cast<unsigned char>(((id & 0x0F) << 4) | 0x0F);
    Bytes reply = {0x55, 0xAA, address, 0, 0x01, 0xFE, static_cast<unsigned char>(modeChar)};
    reply[3] = static_cast<unsigned char>(~address);
    reply.resize(13, 0);
    return reply;
}

ScriptedModule::~ScriptedModule() {
    Stop();
}

void ScriptedModule::Reply(const Bytes& reply, milliseconds delay) {
    std::lock_guard lock(m_Mutex);
    m_Replies.emplace_back(reply, delay);
}

Bytes ScriptedModule::Received() const {
    std::lock_guard lock(m_Mutex);
    return m_Received;
}

std::vector<Bytes> ScriptedModule::Units() const {
    std::lock_guard lock(m_Mutex);
    return m_Units;
}

Bytes ScriptedModule::WaitReceived(size_t count, milliseconds timeout) const {
    std::unique_lock lock(m_Mutex);
    m_Changed.wait_for(lock, timeout, [&] { return m_Received.size() >= count; });
    return m_Received;
}

void ScriptedModule::Clear() {
    std::lock_guard lock(m_Mutex);
    m_Received.clear();
    m_Units.clear();
}

void ScriptedModule::Start(std::function<void()> serve) {
    m_Thread = std::thread(std::move(serve));
}

void ScriptedModule::Stop() {
    m_Stop = true;
    if (m_Thread.joinable())
        m_Thread.join();
}

Bytes ScriptedModule::Take(const Bytes& unit) {
    std::pair<Bytes, milliseconds> reply;
    {
        std::lock_guard lock(m_Mutex);
        m_Received.insert(m_Received.end(), unit.begin(), unit.end());
        m_Units.push_back(unit);
        if (!m_Replies.empty()) {
            reply = std::move(m_Replies.front());
            m_Replies.pop_front();
        }
    }
    m_Changed.notify_all();
    std::this_thread::sleep_for(reply.second);
    return reply.first;
}

TcpModule::TcpModule(const std::string& address, int port) : m_Address(address), m_Listener(address, port) {}

TcpModule::~TcpModule() {
    Stop();
}

bool TcpModule::Accept(milliseconds timeout) {
    m_Link = m_Listener.Accept(timeout);
    return m_Link.ok();
}

void TcpModule::Serve(std::vector<Bytes> greetings) {
    Start([this, greetings = std::move(greetings)] {
        for (size_t index = 0; !Stopping();) {
            TcpConnection link = m_Listener.Accept(kSlice);
            if (!link.ok())
                continue;
            ++m_Accepted;
            if (!greetings.empty())
                link.Send(greetings[std::min(index++, greetings.size() - 1)]);
            unsigned char buf[8192];
            while (!Stopping()) {
                const ptrdiff_t n = detail::ReadSome(link.fd(), buf, sizeof buf, Clock::now() + kSlice);
                if (n == 0) {
                    ++m_Closed;
                    break;
                }
                if (n < 0)
                    continue;
                const Bytes reply = Take(Bytes(buf, buf + n));
                if (!reply.empty())
                    link.Send(reply);
            }
        }
    });
}

UdpModule::UdpModule(const std::string& address) : m_Peer(address, LUMO_UDP_MODULE_PORT) {
    if (!ok())
        return;
    Start([this] {
        while (!Stopping()) {
            const std::optional<Datagram> d = m_Peer.Recv(kSlice);
            if (!d)
                continue;
            const Bytes reply = Take(d->bytes);
            if (!reply.empty())
                m_Peer.SendTo(d->from, d->fromPort, reply);
        }
    });
}

UdpModule::~UdpModule() {
    Stop();
}

SerialModule::SerialModule(int comNumber, size_t frameSize) : m_Pty(comNumber) {
    if (!ok())
        return;
    // The length of the first whole unit in `pending`, or 0.
    auto unitLength = [frameSize](const Bytes& pending) -> size_t {
        if (frameSize)
            return pending.size() >= frameSize ? frameSize : 0;
        const auto cr = std::find(pending.begin(), pending.end(), '\r');
        return cr == pending.end() ? 0 : size_t(cr - pending.begin()) + 1;
    };
    Start([this, unitLength] {
        Bytes pending;
        unsigned char buf[4096];
        while (!Stopping()) {
            const ptrdiff_t n = detail::ReadSome(m_Pty.MasterFd(), buf, sizeof buf, Clock::now() + kSlice);
            if (n <= 0)
                continue;
            pending.insert(pending.end(), buf, buf + n);
            for (size_t length; (length = unitLength(pending)) > 0;) {
                const Bytes unit(pending.begin(), pending.begin() + std::ptrdiff_t(length));
                pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(length));
                const Bytes reply = Take(unit);
                if (!reply.empty())
                    m_Pty.Write(reply);
            }
        }
    });
}

SerialModule::~SerialModule() {
    Stop();
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto end = Clock::now() + milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

Bytes TakeMailbox(CLumo_Net& net) {
    const int n = net.m_RecvLen.load(std::memory_order_acquire);
    Bytes b(net.m_RecvBuf, net.m_RecvBuf + n);
    net.m_RecvLen.store(0, std::memory_order_relaxed);
    net.m_RecvSource.store(nullptr, std::memory_order_relaxed);
    net.m_RecvReady.store(0, std::memory_order_release);
    return b;
}

int ConnectGreeted(CLumo_Net& net, TcpModule& module, const Bytes& greeting, unsigned char mode,
                   unsigned char* out) {
    unsigned char reply[3] = {0xAA, 0xAA, 0xAA};
    std::thread script([&] {
        if (module.Accept())
            module.Send(greeting);
    });
    std::wstring address = module.Address();
    const int rc = net.NetConnect_IPEPC(address.data(), out ? out : reply, mode);
    script.join();
    return rc;
}

} // namespace lumo_test
