// Device link to one video-wall controller module: serial port, TCP link with
// its receive thread and mailbox, and the device operations of CLumo_Net,
// exported by libCtrl_Lumo.so (#include <ctrl_lumo/lumo_net.h>, link with
// -lCtrl_Lumo or CtrlLumo::Ctrl_Lumo; C++17).
//
// A program embeds CLumo_Net by value or on the heap and uses its sixteen
// exported members and its public fields. Every operation runs on the
// caller's thread and blocks it for the bounded waits it documents; the only
// other thread is the receive thread of an open TCP link. Nothing throws.
//
// Sections marked "internal" are the library's own: their members are not
// exported and are declared only when LUMO_INTERNAL is defined, which the
// library's own build does and a program never does. They change no layout:
// every field is declared here whatever the macro says.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#if defined(_WIN32)
#include <type_traits>
#include <utility>
#endif

#include "lumo_tap.h"

// Ctrl_Lumo.dll lists its exports in lib/ctrl_lumo.def; libCtrl_Lumo.so
// marks them here.
#if defined(LUMO_BUILDING_LIBRARY) && !defined(_WIN32)
#define LUMO_API __attribute__((visibility("default")))
#else
#define LUMO_API
#endif

class CLumo_Net;
class Lumo_Client;

// Receive modes of the receive thread (field `type` of RecvParam).
enum : int32_t {
    RECV_COUNT = 0,     // publish after every chunk; complete after `len` bytes
    RECV_FIXED13 = 7,   // collect exactly 13 bytes, publish only the whole
    RECV_UNTIL_ACK = 8, // collect until the AckHeader 00 FF 5A A5 has arrived
    RECV_IDLE = 99,     // set by the thread after a counted message; as 0, len 1000
};

// Link kinds (m_LinkKind).
enum : uint8_t { LINK_SERIAL = 0, LINK_TCP = 1, LINK_NONE = 99 };

inline constexpr int LUMO_MODULE_PORT = 20036;     // module link, greets
inline constexpr int LUMO_CONVERTER_PORT = 1024;   // IP converter, greets nothing
inline constexpr int LUMO_UDP_MODULE_PORT = 20037; // a module's UDP text link
inline constexpr int LUMO_CLEAR_DEST_PORT = 60528; // clear-socket datagrams go here
inline constexpr int LUMO_CLEAR_SRC_PORT = 60102;  // ...from this local port
inline constexpr int LUMO_MAILBOX_SIZE = 30725;    // m_RecvBuf and the assembly limit

// Stand-ins for the two window handles. m_hLogWnd receives the progress
// texts (WM_USER+2) synchronously on the caller's thread; m_hOwnerWnd gets
// the link-lost notice (WM_USER+1, wParam 2, lParam 0) from the receive
// thread. An empty function stands for a zero handle.
// The notice is the receive thread's last act, made on its own copy of the
// function after it has let go of the object (as a posted message would
// be): the owner may close the link, connect again (to the same or another
// module) or destroy the object from within it, and nothing waits for it.
// Like any code on another thread, it synchronises with the owner's own use
// of the object first (a GUI program hands it to its UI thread).
#if !defined(_WIN32)
using LumoLogWnd = std::function<void(const std::wstring& text)>;
using LumoOwnerWnd = std::function<void(unsigned msg, uintptr_t wParam, intptr_t lParam)>;
#else
// On Windows each handle is a window (HWND) or, as on Linux, a function.
// A window set as m_hLogWnd is sent WM_USER+2 with SendMessageW on the
// caller's thread: wParam points to a newly allocated, zero-terminated
// UTF-16 text (const wchar_t*) that the window procedure reads during the
// call and the library frees after it; lParam is 0. A window set as
// m_hOwnerWnd is posted WM_USER+1 (PostMessageW, wParam 2, lParam 0).
struct HWND__; // <windows.h>'s HWND is HWND__*
template <class... Args> class LumoWindowTarget {
public:
    LumoWindowTarget() = default;
    LumoWindowTarget(std::nullptr_t) {}
    LumoWindowTarget(HWND__* window) : m_Window(window) {}
    template <class F, std::enable_if_t<std::is_invocable_v<F&, Args...> &&
                                            !std::is_convertible_v<F, HWND__*>, int> = 0>
    LumoWindowTarget(F function) : m_Function(std::move(function)) {}

    explicit operator bool() const { return m_Window != nullptr || static_cast<bool>(m_Function); }
    HWND__* Window() const { return m_Window; }
#if defined(LUMO_INTERNAL)
    // Sends or posts the message to the window, or calls the function.
    void operator()(Args... args) const;
#endif

private:
    HWND__* m_Window = nullptr;
    std::function<void(Args...)> m_Function;
};
using LumoLogWnd = LumoWindowTarget<const std::wstring&>;
using LumoOwnerWnd = LumoWindowTarget<unsigned, uintptr_t, intptr_t>;
#if defined(LUMO_INTERNAL)
template <> void LumoLogWnd::operator()(const std::wstring& text) const;
template <> void LumoOwnerWnd::operator()(unsigned msg, uintptr_t wParam, intptr_t lParam) const;
#endif
#endif
inline constexpr unsigned LUMO_WM_LINK_LOST = 0x401; // WM_USER+1
inline constexpr unsigned LUMO_WM_PROGRESS = 0x402;  // WM_USER+2

// The device link's message boxes ("Error" caption, error icon): defined by
// the program, never by the library. A program that defines this function
// receives every box's text and caption; without it they go to standard
// error as "caption: text". Linking the program against libCtrl_Lumo.so is
// enough: the linker exports a function the library refers to. A program
// that loads the library with dlopen exports it itself, with the link flag
//   -Wl,--export-dynamic-symbol=Lumo_MessageSink   (or -rdynamic)
// Define it in one file as
//   extern "C" void Lumo_MessageSink(const wchar_t* text, const wchar_t* caption) { ... }
// It is called on the thread that failed: the caller's thread, or the
// receive thread for "Recvthread Error!!..." when the module resets the
// link. Calls may overlap. The texts live for the call. The receive thread
// calls it as its very last act, after it has let go of the CLumo_Net, and
// closing the link (CloseNet, ~CLumo_Net) does not wait for the call: the
// function may block as long as it likes (a modal box), even on the thread
// that closes or destroys the link, but must not reach the CLumo_Net it came
// from, which may already be gone.
//
// On Windows the program exports the function, which its declaration here
// does by itself (dllexport), and the library finds it by name. Without it
// the library shows a MessageBoxW (error icon, no owner window), or writes
// to standard error when the environment variable LUMO_NO_MESSAGE_BOXES is
// set (not to 0), for runs that nobody watches.
#if defined(_WIN32)
extern "C" __declspec(dllexport) void Lumo_MessageSink(const wchar_t* text, const wchar_t* caption);
#else
extern "C" __attribute__((visibility("default"))) void Lumo_MessageSink(const wchar_t* text,
                                                                        const wchar_t* caption);
#endif

// Stand-in for the serial port's OVERLAPPED record: the offset word that a
// completed write advances.
struct ComIoRecord {
    uint32_t Offset = 0;
    uint32_t OffsetHigh = 0;
};

// The receive thread's argument record, carried inside the socket object so
// the receive mode can be changed from any thread while the thread runs.
// `type` and `len` are written by SetRecvMode (caller's thread) before the
// frame whose answer they describe is sent, and read and advanced by the
// reader (the receive thread, or a waiting side it lent the reading to) once
// per chunk; both sides do so under the socket object's mode lock.
struct RecvParam {
    Lumo_Client* client = nullptr;
    std::atomic<int32_t> type{RECV_COUNT};
    std::atomic<int32_t> len{0};
    CLumo_Net* owner = nullptr;
};

namespace lumo {

// Internal: a count one thread bumps to wake another thread's bounded wait
// (the mailbox hand-back and the publication use one each). Only
// Lumo_Client uses it.
//
// Waiter: seen = Seen(); check its own condition; Wait(seen, ms). A Bump
// after Seen() makes Wait return at once or wakes it: the count, the waiter
// count and the futex compare are ordered by sequentially consistent
// operations, so no wake is lost between the check and the sleep.
class WakeCount {
private:
    friend class ::Lumo_Client;
    WakeCount() = default;

    uint32_t Seen() const { return m_Count.load(std::memory_order_seq_cst); }
    // Blocks at most `timeout` while the count still equals `seen`. Any thread.
    void Wait(uint32_t seen, std::chrono::microseconds timeout);
    // Counts one event and wakes every waiter; no system call when none
    // waits. Any thread.
    void Bump();

    std::atomic<uint32_t> m_Count{0};
    std::atomic<uint32_t> m_Waiters{0};
};

} // namespace lumo

// Blocking TCP client socket of the device link (CLumo_Net::m_Client); owns
// the receive thread. A program reads its fields; only CLumo_Net makes one.
class Lumo_Client {
public:
    Lumo_Client(const Lumo_Client&) = delete;
    Lumo_Client& operator=(const Lumo_Client&) = delete;

    RecvParam pRecv;
    std::wstring m_strAddr;            // dotted address connected to
    int m_Port = 0;                    // 20036 or 1024; 0 before a connection
    int m_HostNo = 0;                  // value after the address's third dot
    std::atomic<int32_t> m_RecvGot{0}; // bytes of the current message assembled

#if defined(LUMO_INTERNAL)
    // ---- internal ----
    // Creates the socket and connects it; blocks at most the calling
    // thread's connect limit (link_pace.h: LUMO_CONNECT_LIMIT_MS unless a
    // program set another), ticking the wait hook. 1 or 0.
    int ConnectTo(const wchar_t* address, int port);
    // errno of the last ConnectTo that failed (0 after a success).
    int ConnectError() const {
        return m_ConnectErrno;
    }
    // Fills pRecv and starts the receive thread when m_Port is 20036 or 1024.
    void StartReceive(CLumo_Net* owner);
    // Shuts the socket down both ways, waits (microseconds) until the
    // receive thread has let go of both objects, closes the socket. Does not
    // wait for a link-lost notice or message box the thread is showing; may
    // be called from within them. Safe to call when nothing is open.
    int ShutDown();
    // Sends the whole buffer; when the socket cannot take it at once, blocks
    // until the module has acknowledged every byte, and fails (code 10060)
    // after LUMO_SEND_LIMIT_MS in which the module took nothing. Error box
    // through the message sink. 1 or 0. Caller's thread.
    int SendData(CLumo_Net* owner, const unsigned char* data, int count);
    // Sets type and len and drops a half-built message. Any thread.
    void SetRecvMode(int type, int len);

    // Wakes the receive thread when it waits for the mailbox to be handed
    // back. CLumo_Net::ClearMailbox calls it after lowering m_RecvReady; a
    // program that lowers the flag itself is noticed by a timed re-check.
    // Any thread.
    void HandBack() {
        m_HandBacks.Bump();
    }
    // Counts the publications and the link seen dropping, for waits that
    // wake on them: seen = Publications(), look at the mailbox, then
    // WaitPublication(seen, ms) blocks at most ms while nothing new has
    // happened. A waiter may be lent the reading of the socket and then
    // receives, cuts and publishes what comes itself, as the receive thread
    // would (see recv_thread.cpp). The thread that waits on the link.
    uint32_t Publications() const {
        return m_Publications.Seen();
    }
    void WaitPublication(uint32_t seen, int timeoutMs);
    // Before a send: drops what came since the last wait while the reading
    // was lent (it would have been published and emptied by the send).
    // The thread that sends.
    void DropUnread();

    bool IsOpen() const {
        return m_Socket >= 0;
    }
    int SocketHandle() const {
        return m_Socket;
    }

    // Receive thread body (see recv_thread.cpp); public for the thread start.
    void RecvThreadMain();
#endif

private:
    friend class CLumo_Net; // m_Client lives and dies with its CLumo_Net
    Lumo_Client();
    ~Lumo_Client(); // ShutDown

    // How far the receive thread is: it runs on this object and its owner,
    // or it has let go of both and either returns at once or makes one last
    // call (owner notice, message box) on its own copies.
    enum : uint32_t { RECV_RUNNING = 0, RECV_LEFT = 1, RECV_LAST_CALL = 2 };
    // Who reads the socket (m_Reader): the thread (in its receive call or
    // about to be), the thread asked to lend the reading after its next
    // chunk, nobody while it is lent (the thread is parked), or a waiter now.
    enum : uint32_t { READER_THREAD = 0, READER_WANTED = 1, READER_LENT = 2, READER_WAITER = 3 };

#if defined(LUMO_INTERNAL)
    // Ends the thread's use of the objects (release, then a wake for
    // ShutDown); after this the thread touches neither object.
    void LeaveObjects(uint32_t how);
    // Receive thread: blocks while a published message waits to be taken;
    // false when the link is being shut down meanwhile.
    bool AwaitHandBack(CLumo_Net* owner);
    // Receive thread: blocks while the reading is lent to the waiting side;
    // false when the link is being shut down meanwhile.
    bool AwaitReading();
    // Cuts one chunk by the receive mode and publishes what it asks for;
    // true when it published. Whoever reads.
    bool TakeChunk(CLumo_Net* owner, const unsigned char* chunk, int n);
    // The waiting side: takes the lent reading (true) or leaves it.
    bool BorrowReading();
    // The waiting side, holding the reading: receives one chunk within
    // timeoutMs and takes it, or (drop) throws away what waits; lends the
    // reading back, or hands it to the thread with the end of the link.
    void ReadAsWaiter(int timeoutMs, bool drop);
    // Waits until the thread has let go, then joins it (or detaches it when
    // it is making its last call, or when it is the calling thread).
    void ReleaseThread();
#endif

    int m_Socket = -1; // invalid while closed
    int m_ConnectErrno = 0;
    std::thread m_Thread;                // released by ShutDown
    std::atomic<bool> m_StopRecv{false}; // ends the wait for the mailbox on shut-down
    std::atomic<uint32_t> m_RecvEnd{RECV_LEFT};
    lumo::WakeCount m_HandBacks;
    lumo::WakeCount m_Publications;
    // Held for a few microseconds at a time: by SetRecvMode and a send while
    // they set the receive mode and progress, by the reader while it
    // advances them by one chunk and publishes the result.
    std::mutex m_ModeMutex;
    // Who reads the socket: the receive thread or a waiter it lent it to
    // (a futex word; see recv_thread.cpp).
    std::atomic<uint32_t> m_Reader{READER_THREAD};
    std::atomic<uint32_t> m_LeaseUses{0};        // reads by waiters, so the thread sees them
    std::atomic<int> m_WaiterEnd{0};             // end a waiter met: 1 closed, -errno reset or failed
    std::unique_ptr<unsigned char[]> m_Assembly; // the message being cut, under m_ModeMutex
};

class CLumo_Net {
public:
    // Opens nothing. Any thread.
    LUMO_API CLumo_Net();
    // Closes no link: close the open one first (CloseNet, CloseCOM).
    LUMO_API ~CLumo_Net();

    CLumo_Net(const CLumo_Net&) = delete;
    CLumo_Net& operator=(const CLumo_Net&) = delete;

    // ---- state, in declared order ----
    unsigned char m_AckBuf[500];
    int m_ComPort = 0;
    ComIoRecord m_ReadOverlapped;
    ComIoRecord m_WriteOverlapped;
    int m_hCom = 0; // open serial descriptor (never 0, 1 or 2 while open); 0 when closed
    int m_ComOpen = 0;
    int m_ConnectToPcID = 0;
    unsigned char m_DevStyle[36];
    // While nonzero the receive thread holds back completed messages.
    std::atomic<int> m_RecvHold{0};
    int m_CommError = 0;
    Lumo_Client m_Client;

    // ---- mailbox ----
    // Producer: the receive thread (or, while it waits, a waiting side the
    // thread lent the reading to) writes m_RecvBuf, then m_RecvLen and
    // m_RecvSource, and only then raises m_RecvReady (release stores), and
    // writes nothing more while the flag is up. Consumers (Check_Return, the
    // connect sequence, the console) load the flag, then the length, with
    // acquire before they read m_RecvBuf (a nonzero m_RecvLen read first may
    // be a message not yet published: the flag tells it from an empty one),
    // and lower the flag (release) only when they are done with the data.
    // A program that polls the fields sees a message within about 10 ms of its
    // arrival, however the link was last waited on. Nobody polls: each publication
    // (and the link dropping) wakes the waiting side through
    // m_Client.Publications(); ClearMailbox lowers the flag and wakes the
    // thread at once. A program that lowers the flag by writing the fields
    // is noticed within 0.5 ms while it takes messages as they come, within
    // 30 ms once a message has waited untaken for 20 ms; the next send
    // releases it at once.
    std::atomic<Lumo_Client*> m_RecvSource{nullptr};
    std::atomic<uint8_t> m_RecvReady{0};
    unsigned char m_RecvBuf[LUMO_MAILBOX_SIZE];
    std::atomic<int> m_RecvLen{0};

    unsigned char m_ReturnBuf[LUMO_MAILBOX_SIZE];
    int m_SendState = 0;
    uint8_t m_LastStatus = 1;
    std::atomic<int> m_bConnected{0}; // cleared by the receive thread on loss
    LumoOwnerWnd m_hOwnerWnd;
    LumoLogWnd m_hLogWnd;
    int m_ReadFileReturnlen = 0;
    std::wstring m_strIP;
    int m_ToPCStyle = 255;
    uint8_t m_LinkKind = LINK_NONE;
    uint8_t m_ModeChar = 0;
    uint32_t m_BIOSver[15];
    uint32_t m_MBDBIOSver[15];
    uint32_t m_MBABIOSver[15];
    uint8_t m_SocketID = 0;
    int m_TimeoutCounter = 0;
    int m_AckErrorCounter = 0;
    int m_bXMode = 0;
    int m_ConverterLink = 0;
    // Optional record of every byte string and link event (lumo_tap.h).
    // Set while no link is open; empty: nothing is recorded.
    LumoTap m_hTap;

    // ---- exported operations (caller's thread; each blocks as it says) ----
    // Opens a TCP link to `address` (dotted IPv4): mode 0 module link with
    // boxes, 3 converter link (port 1024), other modes a module link without
    // boxes; reply[3] gets identifier, style, 0. Blocks for the connect
    // (at most 20 s), the greeting (10 s) and the mode query (10 s).
    // 1 open, 0 not, 2 an X-mode module gave a 14-byte greeting.
    LUMO_API int NetConnect_IPEPC(wchar_t* address, unsigned char* reply, unsigned char mode);
    // Closes a module link (the disconnect handshake first for style 17);
    // blocks at least 1.2 s. Always 1.
    LUMO_API int CloseNet();
    // Closes a converter link; blocks 1.2 s. Always 1.
    LUMO_API int CloseNet_IPConverter();
    // Sends the disconnect frame to `id` and waits up to 10 s, then once more
    // 20 s, for its acknowledgement. 1 acknowledged, 0 not.
    LUMO_API char Skarn_Disconnect(int id);
    // Opens serial port `port` ("COM<port>") at `baud`, 8 data bits, no
    // parity, closing an earlier one. 1 or 0.
    LUMO_API int OpenCOM_IPConverter(int port, int baud);
    // Closes the serial port if open. Always 1.
    LUMO_API int CloseCOM();
    // Broadcasts the three clear-socket datagrams for the module at `address`
    // (first part in the top byte); blocks at least 100 ms. True when the
    // third went out.
    LUMO_API bool UDP_Clear_Socket(unsigned long address);
    // Offline switch: while nonzero nothing is sent or read.
    LUMO_API void SendState(char value);
    // Sends `count` bytes on the open link (a TCP send empties the mailbox
    // first); `id` is not used. Blocks while the module takes them.
    LUMO_API void Peltra_Senddata(int id, unsigned char* data, unsigned int count);
    // Device query of `kind`: on a serial link out[2] gets the first two
    // answer bytes and the result is 1; over TCP the answer goes to the
    // mailbox and the result is 0.
    LUMO_API int Skarn_Device(unsigned char* out, unsigned char kind);
    // Drops what waits on the serial port. Always 1.
    LUMO_API int Skarn_ClearBuffer();
    // Word `index` (0 to 14) of the version tables, into *out.
    LUMO_API void GetBIOSver(int index, unsigned long* out);
    LUMO_API void GetMBABIOSver(int index, unsigned long* out);
    LUMO_API void GetMBDBIOSver(int index, unsigned long* out);

#if defined(LUMO_INTERNAL)
    // ---- internal: members the console calls, not exported ----
    int Senddata(const unsigned char* data, int count);
    int ReadComData(void* buffer, int limit);

    // ---- internal ----
    int Check_Return(int mode, int id, int limitMs);
    int WriteComByte(unsigned char byte);
    int ReadComExact(void* out, int count, unsigned char kind, int partial);
    int ComBytesWaiting();

    // Sends prefix + literal to m_hLogWnd when one is set (and to the tap).
    void SendProgress(const std::wstring& prefix, const wchar_t* literal);
    // Shows a message box through the sink (and records it on the tap).
    // Caller's thread.
    void ShowBox(const std::wstring& text, const std::wstring& caption);
    // A link as the tap names it, put into words only when a record is
    // made: a serial port by its number, a TCP link by address and port.
    struct TapSite {
        LumoTapLink link;
        int port;                              // serial port number, or TCP port
        const std::wstring* address = nullptr; // TCP; lives for the record's call
        std::wstring Where() const;            // SerialWhere or TcpWhere
    };
    static TapSite SerialSite(int port) {
        return {LumoTapLink::Serial, port};
    }
    static TapSite TcpSite(const std::wstring& address, int port) {
        return {LumoTapLink::Tcp, port, &address};
    }
    // Tap records, made on the thread that did the I/O; each does nothing
    // while no tap is set.
    void TapBytes(LumoTapKind kind, const TapSite& site, const unsigned char* bytes, size_t size,
                  int error = 0) const;
    void TapEvent(LumoTapEvent event, const TapSite& site, int error = 0) const;
    void TapGreeting(const TapSite& site, int socketId) const;
    void TapModeChar(const TapSite& site, int modeChar) const;
    void TapBox(const std::wstring& text, const std::wstring& caption) const;
    // ShutDown on m_Client, recorded as Closed when a socket was open.
    void CloseSocket();
    // The links as the tap names them: "COM1 /dev/ttyUSB0", "TCP 10.0.0.5:20036".
    static std::wstring SerialWhere(int port);
    static std::wstring TcpWhere(const std::wstring& address, int port);
    // Empties the mailbox as every TCP send and every taken answer does, and
    // wakes the receive thread waiting for it: the hand-back every part of
    // the device link uses. Any thread that has taken the message.
    void ClearMailbox();
    // Blocks the caller at most timeoutMs until a message is published
    // (m_RecvReady 1: true) or the TCP link is down (false; false on time-out
    // too). Ticks the wait hook. The caller's thread.
    bool WaitMailbox(int timeoutMs);
    // Whether the message now published is one the receive thread has
    // finished (its next publication starts a new message) rather than part
    // of one that the next publication repeats and extends. Ask while the
    // message is published, before handing it back. Any thread.
    bool PublishedMessageEnds() const;
#endif
};
