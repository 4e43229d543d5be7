// What the Windows socket files share (win32_socket.cpp, win32_udp.cpp):
// Winsock started once per process, and Winsock's error codes turned into
// the errno values the rest of the tree reads (<cerrno>).
#pragma once

namespace lumo::win32 {

// WSAStartup (version 2.2) once for the process; later calls return at
// once. 0, or the errno value of its failure. Any thread.
int StartSockets();

// The errno value for a Winsock error code (WSAECONNREFUSED gives
// ECONNREFUSED, ...); a code with no such value is returned as it is.
int ErrnoFromWsa(int wsa);

// ErrnoFromWsa(WSAGetLastError()).
int LastSocketErrno();

} // namespace lumo::win32
