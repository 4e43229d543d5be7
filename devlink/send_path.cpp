#include "lumo_net.h"

// stubs until the send path lands
int CLumo_Net::Senddata(const unsigned char*, int) { return 0; }
int CLumo_Net::Check_Return(int, int, int) { return 0; }
int Lumo_Client::SendData(CLumo_Net*, const unsigned char*, int) { return 0; }
