// Windows side of lumo-module-sim's loop (see posix_sim_io.h): Winsock 2
// sockets waited on with WSAPoll; Ctrl+C, Ctrl+Break and a closed console
// reach the loop as a datagram to a loopback socket of its own. Windows has
// no pseudo-terminal, so there is no serial side.
#include "posix_sim_io.h"
#include "win32_sockets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h> // after Winsock 2

namespace modsim::io {

namespace {

int g_Error = 0; // Winsock (or Win32) code of the last failed call

// Turns off a UDP socket's "connection reset" after an ICMP port unreachable
// (the documented control code, which MinGW's headers leave out).
constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12);

SOCKET g_StopSender = INVALID_SOCKET; // the handler's socket
sockaddr_in g_StopAddress{};          // where it sends

SOCKET Socket(Handle h) {
    return static_cast<SOCKET>(h);
}

long Failed() {
    g_Error = WSAGetLastError();
    return g_Error == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

void SetNonBlocking(SOCKET s) {
    u_long on = 1;
    if (ioctlsocket(s, FIONBIO, &on) != 0) {
        g_Error = WSAGetLastError();
        Die("ioctlsocket");
    }
}

SOCKET NewSocket(int type) {
    if (lumo::win32::StartSockets() != 0) {
        g_Error = WSASYSNOTREADY;
        Die("WSAStartup");
    }
    const SOCKET s = socket(AF_INET, type, 0);
    if (s == INVALID_SOCKET) {
        g_Error = WSAGetLastError();
        Die("socket");
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    SetNonBlocking(s);
    return s;
}

sockaddr_in SocketAddress(const Peer& p) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(p.port);
    sa.sin_addr.s_addr = htonl(p.address);
    return sa;
}

Peer PeerOf(const sockaddr_in& sa) {
    return {ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    const char c = 1;
    sendto(g_StopSender, &c, 1, 0, reinterpret_cast<const sockaddr*>(&g_StopAddress), sizeof g_StopAddress);
    return TRUE;
}

} // namespace

std::string LastError() {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(g_Error), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        text[--n] = '\0';
    return (n ? std::string(text) + " " : std::string()) + "(error " + std::to_string(g_Error) + ")";
}

void Die(const char* what) {
    std::fprintf(stderr, "lumo-module-sim: %s: %s\n", what, LastError().c_str());
    std::exit(1);
}

bool RaiseFileLimit(uint64_t need, uint64_t* limit) {
    *limit = need; // sockets are not counted against a per-process limit here
    return true;
}

Handle Listen(uint32_t address, const std::string& text, bool stream, int port) {
    // No SO_REUSEADDR: on Windows it would let a second simulator take the same port.
    // (Wine binds a UDP socket meant for one loopback address to all of them, so
    // under Wine the UDP side serves one module, and its replies leave from
    // 127.0.0.1.)
    const SOCKET s = NewSocket(stream ? SOCK_STREAM : SOCK_DGRAM);
    const sockaddr_in sa = SocketAddress({address, static_cast<uint16_t>(port)});
    if (bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        g_Error = WSAGetLastError();
        std::fprintf(stderr, "lumo-module-sim: %s: bind port %d: %s\n", text.c_str(), port,
                     LastError().c_str());
        std::exit(1);
    }
    if (stream && listen(s, 16) != 0) {
        g_Error = WSAGetLastError();
        Die("listen");
    }
    if (!stream) {
        // An ICMP "port unreachable" for an earlier reply must not fail the next receive.
        BOOL off = FALSE;
        DWORD bytes = 0;
        WSAIoctl(s, kUdpConnReset, &off, sizeof off, nullptr, 0, &bytes, nullptr, nullptr);
    }
    return static_cast<Handle>(s);
}

Handle Accept(Handle listener, Peer* peer, AcceptFail* fail) {
    sockaddr_in sa{};
    int len = sizeof sa;
    const SOCKET s = accept(Socket(listener), reinterpret_cast<sockaddr*>(&sa), &len);
    if (s != INVALID_SOCKET) {
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        SetNonBlocking(s);
        *peer = PeerOf(sa);
        return static_cast<Handle>(s);
    }
    const int wsa = g_Error = WSAGetLastError();
    if (wsa == WSAEMFILE || wsa == WSAENOBUFS)
        *fail = AcceptFail::OutOfFiles;
    else if (wsa == WSAEWOULDBLOCK || wsa == WSAEINTR || wsa == WSAECONNRESET)
        *fail = AcceptFail::Again;
    else
        *fail = AcceptFail::Other;
    return kNone;
}

long Read(Handle h, uint8_t* buffer, size_t size) {
    const int n = recv(Socket(h), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    return n >= 0 ? n : Failed();
}

long Write(Handle h, bool, const uint8_t* data, size_t size) {
    const int n = send(Socket(h), reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
    return n >= 0 ? n : Failed();
}

long ReceiveFrom(Handle h, uint8_t* buffer, size_t size, Peer* peer) {
    sockaddr_in sa{};
    int len = sizeof sa;
    const int n = recvfrom(Socket(h), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0,
                           reinterpret_cast<sockaddr*>(&sa), &len);
    if (n < 0)
        return Failed();
    *peer = PeerOf(sa);
    return n;
}

long SendTo(Handle h, const uint8_t* data, size_t size, const Peer& peer) {
    const sockaddr_in sa = SocketAddress(peer);
    const int n = sendto(Socket(h), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                         reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return n >= 0 ? n : Failed();
}

void Close(Handle h, bool reset) {
    if (h == kNone)
        return;
    if (reset) {
        linger lg{1, 0};
        setsockopt(Socket(h), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
    }
    closesocket(Socket(h));
}

Handle CatchStopSignals() {
    const SOCKET receiver = NewSocket(SOCK_DGRAM);
    sockaddr_in sa = SocketAddress({INADDR_LOOPBACK, 0});
    int len = sizeof sa;
    if (bind(receiver, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
        getsockname(receiver, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        g_Error = WSAGetLastError();
        Die("bind");
    }
    g_StopAddress = sa;
    g_StopSender = NewSocket(SOCK_DGRAM); // stays open until the process ends
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    return static_cast<Handle>(receiver);
}

void OpenTerminal(Handle*, Handle*, std::string*, const std::string&) {
    std::fprintf(stderr, "lumo-module-sim: --serial: Windows has no pseudo-terminals; "
                         "serve the serial side from a Linux simulator\n");
    std::exit(1);
}

void RemoveLink(const std::string&, const std::string&) {}

struct Poller::State {
    std::vector<WSAPOLLFD> fds;
    std::vector<void*> tags;                  // beside fds
    std::unordered_map<SOCKET, size_t> index; // socket -> its place in fds
};

Poller::Poller() : m_State(std::make_unique<State>()) {}

Poller::~Poller() = default;

void Poller::Watch(Handle h, void* tag, uint32_t was, uint32_t events) {
    if (events == was)
        return;
    State& st = *m_State;
    const SOCKET s = Socket(h);
    const short wanted =
        static_cast<short>((events & kIn ? POLLRDNORM : 0) | (events & kOut ? POLLWRNORM : 0));
    const auto found = st.index.find(s);
    if (!events) {
        if (found == st.index.end())
            return;
        const size_t at = found->second, last = st.fds.size() - 1;
        st.index.erase(found);
        if (at != last) {
            st.fds[at] = st.fds[last];
            st.tags[at] = st.tags[last];
            st.index[st.fds[at].fd] = at;
        }
        st.fds.pop_back();
        st.tags.pop_back();
        return;
    }
    if (found != st.index.end()) {
        st.fds[found->second].events = wanted;
        st.tags[found->second] = tag;
        return;
    }
    st.index[s] = st.fds.size();
    st.fds.push_back({s, wanted, 0});
    st.tags.push_back(tag);
}

void Poller::Wait(int timeoutMs, std::vector<Ready>* ready) {
    ready->clear();
    State& st = *m_State;
    const int n = WSAPoll(st.fds.data(), static_cast<ULONG>(st.fds.size()), timeoutMs);
    if (n == SOCKET_ERROR) {
        g_Error = WSAGetLastError();
        if (g_Error == WSAEINTR)
            return;
        Die("WSAPoll");
    }
    for (size_t i = 0; i < st.fds.size() && n > 0; ++i) {
        const short got = st.fds[i].revents;
        if (!got)
            continue;
        ready->push_back({st.tags[i], (got & POLLRDNORM ? kIn : 0u) | (got & POLLWRNORM ? kOut : 0u) |
                                          (got & POLLHUP ? kHangUp : 0u) |
                                          (got & (POLLERR | POLLNVAL) ? kError : 0u)});
    }
}

} // namespace modsim::io
