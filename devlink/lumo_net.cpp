#include "lumo_net.h"

// stubs until the object module lands
CLumo_Net::CLumo_Net() {}
CLumo_Net::~CLumo_Net() {}
void CLumo_Net::SendProgress(const std::wstring&, const wchar_t*) {}
void CLumo_Net::ClearMailbox() {}
void CLumo_Net::SendState(char) {}
void CLumo_Net::Peltra_Senddata(int, unsigned char*, unsigned int) {}
int CLumo_Net::Skarn_Device(unsigned char*, unsigned char) { return 0; }
int CLumo_Net::Skarn_ClearBuffer() { return 1; }
void CLumo_Net::GetBIOSver(int, unsigned long*) {}
void CLumo_Net::GetMBABIOSver(int, unsigned long*) {}
void CLumo_Net::GetMBDBIOSver(int, unsigned long*) {}
