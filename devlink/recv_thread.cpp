#include "lumo_net.h"

// stub until the receive thread lands
void Lumo_Client::RecvThreadMain() {}
