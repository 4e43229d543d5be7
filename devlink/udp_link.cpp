#include "lumo_net.h"

// stubs until the UDP link lands
bool CLumo_Net::UDP_Clear_Socket(unsigned long) { return false; }
int UdpOpen() { return -1; }
int UdpConnect(int, const char*, int) { return 0; }
int UdpSend(int, const char*, int) { return -1; }
int UdpRecv(int, char*, int) { return -1; }
int UdpClose(int) { return 0; }
int UdpSetRecvTimeout(int, int) { return 0; }
