// A program on the installed header and library alone, built with plain
// flags: every exported member links, and the message box the library shows
// when the module at the address given greets with FF FF reaches this
// program's Lumo_MessageSink. Prints the box, then the connect's result.
#include <ctrl_lumo/lumo_net.h>

#include <cstdio>
#include <string>
#include <tuple>

extern "C" void Lumo_MessageSink(const wchar_t* text, const wchar_t* caption) {
    std::printf("%ls: %ls\n", caption, text);
}

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const auto exported =
        std::make_tuple(&CLumo_Net::NetConnect_IPEPC, &CLumo_Net::CloseNet, &CLumo_Net::CloseNet_IPConverter,
                        &CLumo_Net::Skarn_Disconnect, &CLumo_Net::OpenCOM_IPConverter, &CLumo_Net::CloseCOM,
                        &CLumo_Net::UDP_Clear_Socket, &CLumo_Net::SendState, &CLumo_Net::Peltra_Senddata,
                        &CLumo_Net::Skarn_Device, &CLumo_Net::Skarn_ClearBuffer, &CLumo_Net::GetBIOSver,
                        &CLumo_Net::GetMBABIOSver, &CLumo_Net::GetMBDBIOSver);
    if (!std::apply([](auto... member) { return (... && (member != nullptr)); }, exported))
        return 1;

    std::wstring address(argv[1], argv[1] + std::char_traits<char>::length(argv[1]));
    CLumo_Net net;
    unsigned char greeting[3] = {};
    const int result = net.NetConnect_IPEPC(address.data(), greeting, 0);
    std::printf("result %d\n", result);
    return 0;
}
