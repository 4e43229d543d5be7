// A program outside the tree that knows the device link only through the
// installed header and libCtrl_Lumo.so: connects to the module at the
// address given, prints what its greeting said, disconnects with the
// acknowledged handshake and closes. Exit status 0 when all of that worked.
#include <ctrl_lumo/lumo_net.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumo_hello ADDRESS\n");
        return 2;
    }
    std::wstring address(argv[1], argv[1] + std::char_traits<char>::length(argv[1]));
    CLumo_Net net;
    unsigned char greeting[3] = {};
    if (net.NetConnect_IPEPC(address.data(), greeting, 0) != 1) {
        std::fprintf(stderr, "lumo_hello: no connection to %s\n", argv[1]);
        return 1;
    }
    std::printf("module %d style %d mode %c\n", greeting[0], greeting[1], net.m_ModeChar);
    const int acknowledged = net.Skarn_Disconnect(greeting[0]);
    net.CloseNet();
    std::printf("disconnect %s\n", acknowledged == 1 ? "acknowledged" : "not acknowledged");
    return acknowledged == 1 ? 0 : 1;
}
