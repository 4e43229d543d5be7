#include "lumo_net.h"

// stubs until the TCP link lands
int CLumo_Net::NetConnect_IPEPC(wchar_t*, unsigned char*, unsigned char) { return 0; }
int CLumo_Net::CloseNet() { return 1; }
int CLumo_Net::CloseNet_IPConverter() { return 1; }
char CLumo_Net::Skarn_Disconnect(int) { return 0; }
Lumo_Client::Lumo_Client() {}
Lumo_Client::~Lumo_Client() {}
int Lumo_Client::ConnectTo(const wchar_t*, int) { return 0; }
void Lumo_Client::StartReceive(CLumo_Net*) {}
int Lumo_Client::ShutDown() { return 0; }
void Lumo_Client::SetRecvMode(int, int) {}
