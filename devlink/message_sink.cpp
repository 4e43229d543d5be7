#include "lumo_net.h"

// stubs until the sink lands
void SetLumoMessageSink(LumoMessageSink) {}
void LumoShowMessage(const std::wstring&, const std::wstring&) {}
