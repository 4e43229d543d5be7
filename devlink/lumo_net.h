// The device link as the project's own code sees it: the installed class
// header with its internal members, plus what the library keeps to itself
// (the message sink, the wait hook, the UDP wrappers, time limits). None of
// it is exported from libCtrl_Lumo.so; programs of the tree link the device
// link statically (lumo_devlink_static, which defines LUMO_INTERNAL).
#pragma once

#if !defined(LUMO_INTERNAL)
#error                                                                                                       \
    "lumo_net.h is the device link's own header: link lumo_devlink_static, or include <ctrl_lumo/lumo_net.h>"
#endif

#include <ctrl_lumo/lumo_net.h>

#include <functional>
#include <string>

// Check_Return modes.
enum : int { CHECK_ACK = 1, CHECK_GREETING = 6 };

inline constexpr int LUMO_CHUNK_SIZE = 4096;        // most one receive call asks for
inline constexpr int LUMO_CONNECT_LIMIT_MS = 20000; // a TCP connect that takes longer fails
inline constexpr int LUMO_SEND_LIMIT_MS = 10000;    // a TCP send the module takes nothing of fails
// A message that stops short of what was expected (a greeting shorter than
// its length, an answer without its end) is taken once nothing more has come
// for this long.
inline constexpr int LUMO_QUIET_MS = 250;

// Stand-in for the platform's message box. The device link shows its own
// failures ("Error" caption, error icon) through one process-wide sink; the
// embedding program installs it (the console posts to its UI thread, tests
// record). Without a sink the text goes to the program's Lumo_MessageSink
// when it defines one, else to standard error. The contract is that of
// Lumo_MessageSink (<ctrl_lumo/lumo_net.h>): called on the caller's thread or
// as the receive thread's last act, may block, must not reach the CLumo_Net.
using LumoMessageSink = std::function<void(const std::wstring& text, const std::wstring& caption)>;
// Calls may overlap (any thread) and run outside any lock; a replaced sink may
// still be finishing a call, so a sink keeps what it captures alive by value.
void SetLumoMessageSink(LumoMessageSink sink);
// Installs a sink and returns the one it replaces (an empty one for none).
LumoMessageSink ExchangeLumoMessageSink(LumoMessageSink sink);
void LumoShowMessage(const std::wstring& text, const std::wstring& caption);

// Process-wide wait hook: while a device-link operation waits on the
// caller's thread (the bounded connect, the greeting, acknowledgement and
// mode-query checks, the close pauses, a send the module does not take,
// WaitMailbox), it calls the hook on that thread about every 10 ms, so that
// an embedding program can repaint. The hook must not call into the
// CLumo_Net that waits. An empty function removes it. Any thread.
void SetLumoWaitHook(std::function<void()> hook);

// Platform UDP wrappers (datagram socket handles; -1 is the invalid socket).
int UdpOpen();
int UdpConnect(int sock, const char* address, int port);
int UdpSend(int sock, const char* data, int count);
int UdpRecv(int sock, char* buffer, int size);
int UdpClose(int sock);
// Receive time-out in milliseconds on a datagram socket; 1 or 0.
int UdpSetRecvTimeout(int sock, int ms);
