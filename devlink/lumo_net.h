// Device link to one video-wall controller module: serial port, TCP link with
// its receive thread and mailbox, UDP helpers, and the device operations.
//
// All members are public. Every operation runs on the caller's thread and
// blocks it for the bounded waits it documents; the only other thread is the
// receive thread of an open TCP link. Nothing throws to a caller.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "lumo_tap.h"
#include "wake_count.h"

#if defined(LUMO_BUILDING_LIBRARY)
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

// Check_Return modes.
enum : int { CHECK_ACK = 1, CHECK_GREETING = 6 };

// Link kinds (m_LinkKind).
enum : uint8_t { LINK_SERIAL = 0, LINK_TCP = 1, LINK_NONE = 99 };

inline constexpr int LUMO_MODULE_PORT = 20036;      // module link, greets
inline constexpr int LUMO_CONVERTER_PORT = 1024;    // IP converter, greets nothing
inline constexpr int LUMO_UDP_MODULE_PORT = 20037;  // console's UDP text link
inline constexpr int LUMO_CLEAR_DEST_PORT = 60528;  // clear-socket datagrams go here
inline constexpr int LUMO_CLEAR_SRC_PORT = 60102;   // ...from this local port
inline constexpr int LUMO_MAILBOX_SIZE = 30725;     // m_RecvBuf and the assembly limit
inline constexpr int LUMO_CHUNK_SIZE = 4096;        // most one receive call asks for
inline constexpr int LUMO_CONNECT_LIMIT_MS = 20000; // a TCP connect that takes longer fails
inline constexpr int LUMO_SEND_LIMIT_MS = 10000;    // a TCP send the module takes nothing of fails

// Stand-in for the platform's message box. The device link shows its own
// failures ("Error" caption, error icon) through one process-wide sink; the
// embedding program installs it (the console posts to its UI thread, tests
// record). Without a sink the text goes to standard error.
//
// Contract: the sink is called on the caller's thread, or on the receive
// thread for "Recvthread Error!!..." when the module resets the link. The
// receive thread makes that call as its very last act, after it has let go of
// the CLumo_Net: the texts are the thread's own copies, and closing the link
// (CloseNet, ~CLumo_Net) does not wait for the call. So the sink may block as
// long as it likes (a modal box), even on the thread that closes or destroys
// the link; in return it must not reach the CLumo_Net it came from, which may
// already be gone.
using LumoMessageSink = std::function<void(const std::wstring& text, const std::wstring& caption)>;
// A program that loads only libCtrl_Lumo.so may instead define (and export,
// e.g. with -rdynamic) extern "C" void Lumo_MessageSink(const wchar_t* text,
// const wchar_t* caption); it is used whenever no sink is set.
// Calls may overlap (any thread) and run outside any lock; a replaced sink may
// still be finishing a call, so a sink keeps what it captures alive by value.
void SetLumoMessageSink(LumoMessageSink sink);
// Installs a sink and returns the one it replaces (an empty one for none).
LumoMessageSink ExchangeLumoMessageSink(LumoMessageSink sink);
void LumoShowMessage(const std::wstring& text, const std::wstring& caption);

// Process-wide wait hook (not exported): while a device-link operation waits
// on the caller's thread (the bounded connect, the greeting, acknowledgement
// and mode-query checks, the close pauses, a send the module does not take,
// WaitMailbox), it calls the hook on that thread about every 10 ms, so that
// an embedding program can repaint. The hook must not call into the
// CLumo_Net that waits. An empty function removes it. Any thread.
void SetLumoWaitHook(std::function<void()> hook);

// Stand-ins for the two window handles. m_hLogWnd receives the progress
// texts (WM_USER+2) synchronously on the caller's thread; m_hOwnerWnd gets
// the link-lost notice (WM_USER+1, wParam 2, lParam 0) from the receive
// thread. An empty function stands for a zero handle.
// The notice is the receive thread's last act, made on its own copy of the
// function after it has let go of the object (as a posted message would
// be): the owner may close the link, connect again (to the same or another
// module) or destroy the object from within it, and nothing waits for it.
// Like any code on another thread, it synchronises with the owner's own use
// of the object first (the console hands it to its UI thread).
using LumoLogWnd = std::function<void(const std::wstring& text)>;
using LumoOwnerWnd = std::function<void(unsigned msg, uintptr_t wParam, intptr_t lParam)>;
inline constexpr unsigned LUMO_WM_LINK_LOST = 0x401; // WM_USER+1
inline constexpr unsigned LUMO_WM_PROGRESS = 0x402;  // WM_USER+2

// Stand-in for the serial port's OVERLAPPED record: the offset word that a
// completed write advances.
struct ComIoRecord {
    uint32_t Offset = 0;
    uint32_t OffsetHigh = 0;
};

// The receive thread's argument record, carried inside the socket object so
// the receive mode can be changed from any thread while the thread runs.
// `type` and `len` are written by SetRecvMode (caller's thread) before the
// frame whose answer they describe is sent, and read by the thread once per
// chunk; relaxed order suffices for them since the socket send/receive pair
// already orders the store before the answer's arrival.
struct RecvParam {
    Lumo_Client* client = nullptr;
    std::atomic<int32_t> type{RECV_COUNT};
    std::atomic<int32_t> len{0};
    CLumo_Net* owner = nullptr;
};

// Blocking TCP client socket of the device link; owns the receive thread.
class Lumo_Client {
public:
    Lumo_Client();
    ~Lumo_Client(); // ShutDown

    Lumo_Client(const Lumo_Client&) = delete;
    Lumo_Client& operator=(const Lumo_Client&) = delete;

    RecvParam pRecv;
    std::wstring m_strAddr;
    int m_Port = 0;
    int m_HostNo = 0;
    std::atomic<int32_t> m_RecvGot{0}; // bytes of the current message assembled

    // Creates the socket and connects it; blocks at most
    // LUMO_CONNECT_LIMIT_MS (ticking the wait hook). 1 or 0.
    int ConnectTo(const wchar_t* address, int port);
    // errno of the last ConnectTo that failed (0 after a success).
    int ConnectError() const { return m_ConnectErrno; }
    // Fills pRecv and starts the receive thread when m_Port is 20036 or 1024.
    void StartReceive(CLumo_Net* owner);
    // Shuts the socket down both ways, waits (microseconds) until the
    // receive thread has let go of both objects, closes the socket. Does not
    // wait for a link-lost notice or message box the thread is showing; may
    // be called from within them. Safe to call when nothing is open.
    int ShutDown();
    // Sends the whole buffer, blocking while the module takes it; fails
    // (code 10060) after LUMO_SEND_LIMIT_MS in which it took nothing. Error
    // box through the message sink. Caller's thread.
    int SendData(CLumo_Net* owner, const unsigned char* data, int count);
    // Sets type and len and drops a half-built message. Any thread.
    void SetRecvMode(int type, int len);

    // Wakes the receive thread when it waits for the mailbox to be handed
    // back. CLumo_Net::ClearMailbox calls it after lowering m_RecvReady; a
    // program that lowers the flag itself is noticed by a timed re-check.
    // Any thread.
    void HandBack() { m_HandBacks.Bump(); }
    // Counts the receive thread's publications and its seeing the link
    // drop, for waits that wake on them: seen = Publications(), look at the
    // mailbox, then WaitPublication(seen, ms) blocks at most ms while nothing
    // new has happened. Any thread.
    uint32_t Publications() const { return m_Publications.Seen(); }
    void WaitPublication(uint32_t seen, int timeoutMs) {
        m_Publications.Wait(seen, std::chrono::milliseconds(timeoutMs));
    }

    bool IsOpen() const { return m_Socket >= 0; }
    int SocketHandle() const { return m_Socket; }

    // Receive thread body (see recv_thread.cpp); public for the thread start.
    void RecvThreadMain();

private:
    // How far the receive thread is: it runs on this object and its owner,
    // or it has let go of both and either returns at once or makes one last
    // call (owner notice, message box) on its own copies.
    enum : uint32_t { RECV_RUNNING = 0, RECV_LEFT = 1, RECV_LAST_CALL = 2 };

    // Ends the thread's use of the objects (release, then a wake for
    // ShutDown); after this the thread touches neither object.
    void LeaveObjects(uint32_t how);
    // Waits until the thread has let go, then joins it (or detaches it when
    // it is making its last call, or when it is the calling thread).
    void ReleaseThread();

    int m_Socket = -1; // invalid while closed
    int m_ConnectErrno = 0;
    std::thread m_Thread;                // released by ShutDown
    std::atomic<bool> m_StopRecv{false}; // ends the wait for the mailbox on shut-down
    std::atomic<uint32_t> m_RecvEnd{RECV_LEFT};
    lumo::WakeCount m_HandBacks;
    lumo::WakeCount m_Publications;
};

class CLumo_Net {
public:
    LUMO_API CLumo_Net();
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
    // Producer: the receive thread writes m_RecvBuf, then m_RecvLen and
    // m_RecvSource, and only then raises m_RecvReady (release stores), and
    // writes nothing more while the flag is up. Consumers (Check_Return, the
    // connect sequence, the console) load the flag or a nonzero m_RecvLen
    // with acquire before they read m_RecvBuf, and lower the flag (release)
    // only when they are done with the data. Nobody polls: each publication
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

    // ---- exported operations ----
    LUMO_API int NetConnect_IPEPC(wchar_t* address, unsigned char* reply, unsigned char mode);
    LUMO_API int CloseNet();
    LUMO_API int CloseNet_IPConverter();
    LUMO_API char Skarn_Disconnect(int id);
    LUMO_API int OpenCOM_IPConverter(int port, int baud);
    LUMO_API int CloseCOM();
    LUMO_API bool UDP_Clear_Socket(unsigned long address);
    LUMO_API void SendState(char value);
    LUMO_API void Peltra_Senddata(int id, unsigned char* data, unsigned int count);
    LUMO_API int Skarn_Device(unsigned char* out, unsigned char kind);
    LUMO_API int Skarn_ClearBuffer();
    LUMO_API void GetBIOSver(int index, unsigned long* out);
    LUMO_API void GetMBABIOSver(int index, unsigned long* out);
    LUMO_API void GetMBDBIOSver(int index, unsigned long* out);

    // ---- members the console calls, not exported ----
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
    // Tap records; each is called only when m_hTap is set.
    void TapBytes(LumoTapKind kind, LumoTapLink link, const std::wstring& where, const unsigned char* bytes,
                  size_t size, int error = 0) const;
    void TapEvent(LumoTapEvent event, LumoTapLink link, const std::wstring& where, int error = 0) const;
    void TapGreeting(const std::wstring& where, int socketId) const;
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
};

// Platform UDP wrappers (datagram socket handles; -1 is the invalid socket).
int UdpOpen();
int UdpConnect(int sock, const char* address, int port);
int UdpSend(int sock, const char* data, int count);
int UdpRecv(int sock, char* buffer, int size);
int UdpClose(int sock);
// Receive time-out in milliseconds on a datagram socket; 1 or 0.
int UdpSetRecvTimeout(int sock, int ms);
