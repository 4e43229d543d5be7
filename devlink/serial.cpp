#include "lumo_net.h"

// stubs until the serial link lands
int CLumo_Net::OpenCOM_IPConverter(int, int) { return 0; }
int CLumo_Net::CloseCOM() { return 1; }
int CLumo_Net::WriteComByte(unsigned char) { return 1; }
int CLumo_Net::ReadComData(void*, int) { return 0; }
int CLumo_Net::ReadComExact(void*, int, unsigned char, int) { return 0; }
int CLumo_Net::ComBytesWaiting() { return 0; }
