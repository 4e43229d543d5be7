// Every call of the C interface refuses bad arguments with a code and a
// reason, and never crashes: NULL and unknown handles, NULL pointers, values
// out of range, a link with nothing open.
#include "ctrl_lumo_c.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* what;
    std::function<int(ctrl_lumo_link*)> call;
    int code;
    const char* reason; // a part of the last error
};

void RunTable(ctrl_lumo_link* link, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(link), c.code);
        const std::string error = ctrl_lumo_last_error(link);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

const unsigned char kFrame[] = {0x55, 0xAA, 0x1F, 0xE0, 0x01, 0xFE, 0x17, 0x00};

} // namespace

TEST(CApiArguments, EveryCallOnNullOrDestroyedHandle) {
    ctrl_lumo_link* gone = ctrl_lumo_create();
    ASSERT_NE(gone, nullptr);
    ctrl_lumo_destroy(gone);
    ctrl_lumo_destroy(gone); // twice: nothing happens
    ctrl_lumo_destroy(nullptr);
    ctrl_lumo_result r;
    ctrl_lumo_info info;
    unsigned char out[2];
    int status = 7;
    for (ctrl_lumo_link* link : {static_cast<ctrl_lumo_link*>(nullptr), gone}) {
        const char* reason = link ? "not a link" : "NULL";
        RunTable(link,
                 {
                     {"open_tcp", [](auto* l) { return ctrl_lumo_open_tcp(l, "127.0.0.1", 0); }, 1, reason},
                     {"open_udp", [](auto* l) { return ctrl_lumo_open_udp(l, "127.0.0.1"); }, 1, reason},
                     {"open_serial", [](auto* l) { return ctrl_lumo_open_serial(l, "1", 9600); }, 1, reason},
                     {"send", [&](auto* l) { return ctrl_lumo_send_command(l, "zh", &r); }, 1, reason},
                     {"frame", [](auto* l) { return ctrl_lumo_send_frame(l, kFrame, 8); }, 1, reason},
                     {"ack", [&](auto* l) { return ctrl_lumo_check_ack(l, 10, &status); }, 1, reason},
                     {"query", [&](auto* l) { return ctrl_lumo_device_query(l, 0, out); }, 1, reason},
                     {"clear", [](auto* l) { return ctrl_lumo_clear_socket(l, "127.0.0.1"); }, 1, reason},
                     {"info", [&](auto* l) { return ctrl_lumo_get_info(l, &info); }, 1, reason},
                     {"close", [](auto* l) { return ctrl_lumo_close(l); }, 1, reason},
                 });
    }
    // outputs are cleared even when the handle is refused
    EXPECT_EQ(r.outcome, CTRL_LUMO_OUTCOME_NONE);
    EXPECT_STREQ(r.status, "");
    EXPECT_EQ(info.kind, CTRL_LUMO_LINK_NONE);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(ctrl_lumo_version(), LUMO_VERSION_TEXT);
}

TEST(CApiArguments, BadValuesAndClosedLink) {
    ctrl_lumo_link* link = ctrl_lumo_create();
    ctrl_lumo_result r;
    unsigned char out[2];
    const std::string tooLong(CTRL_LUMO_MAX_COMMAND_BYTES + 1, 'a');
    RunTable(
        link,
        {
            {"NULL address", [](auto* l) { return ctrl_lumo_open_tcp(l, nullptr, 0); }, 1, "address is NULL"},
            {"host name", [](auto* l) { return ctrl_lumo_open_tcp(l, "module.local", 0); }, 1, "dotted IPv4"},
            {"part above 255", [](auto* l) { return ctrl_lumo_open_udp(l, "10.0.0.256"); }, 1, "dotted IPv4"},
            {"three parts", [](auto* l) { return ctrl_lumo_clear_socket(l, "10.0.0"); }, 1, "dotted IPv4"},
            {"x_mode 2", [](auto* l) { return ctrl_lumo_open_tcp(l, "127.0.0.1", 2); }, 1, "not 0 or 1"},
            {"NULL port", [](auto* l) { return ctrl_lumo_open_serial(l, nullptr, 9600); }, 1, "port is NULL"},
            {"port 0", [](auto* l) { return ctrl_lumo_open_serial(l, "COM0", 9600); }, 1,
             "names no serial port"},
            {"port 1000", [](auto* l) { return ctrl_lumo_open_serial(l, "1000", 9600); }, 1,
             "names no serial port"},
            {"relative path", [](auto* l) { return ctrl_lumo_open_serial(l, "ttyS0", 9600); }, 1,
             "names no serial port"},
            {"baud 0", [](auto* l) { return ctrl_lumo_open_serial(l, "COM1", 0); }, 1, "out of range"},
            {"NULL result", [](auto* l) { return ctrl_lumo_send_command(l, "zh", nullptr); }, 1,
             "result is NULL"},
            {"NULL command", [&](auto* l) { return ctrl_lumo_send_command(l, nullptr, &r); }, 1,
             "command is NULL"},
            {"long command", [&](auto* l) { return ctrl_lumo_send_command(l, tooLong.c_str(), &r); }, 1,
             "8192"},
            {"not UTF-8", [&](auto* l) { return ctrl_lumo_send_command(l, "z\xC3(", &r); }, 1, "UTF-8"},
            {"overlong UTF-8", [&](auto* l) { return ctrl_lumo_send_command(l, "\xC0\xAF", &r); }, 1,
             "UTF-8"},
            {"NULL frame", [](auto* l) { return ctrl_lumo_send_frame(l, nullptr, 8); }, 1, "bytes is NULL"},
            {"empty frame", [](auto* l) { return ctrl_lumo_send_frame(l, kFrame, 0); }, 1, "not 1 to 30725"},
            {"huge frame", [](auto* l) { return ctrl_lumo_send_frame(l, kFrame, size_t(1) << 40); }, 1,
             "30725"},
            {"limit 0", [](auto* l) { return ctrl_lumo_check_ack(l, 0, nullptr); }, 1, "not 1 to 60000"},
            {"NULL out", [](auto* l) { return ctrl_lumo_device_query(l, 0, nullptr); }, 1, "out is NULL"},
            {"kind 256", [&](auto* l) { return ctrl_lumo_device_query(l, 256, out); }, 1, "not 0 to 255"},
            {"NULL info", [](auto* l) { return ctrl_lumo_get_info(l, nullptr); }, 1, "info is NULL"},
            // well-formed, but nothing is open
            {"send closed", [&](auto* l) { return ctrl_lumo_send_command(l, "zh", &r); }, 3,
             "no link is open"},
            {"frame closed", [](auto* l) { return ctrl_lumo_send_frame(l, kFrame, 8); }, 3,
             "no link is open"},
            {"ack closed", [](auto* l) { return ctrl_lumo_check_ack(l, 10, nullptr); }, 3, "no link is open"},
            {"query closed", [&](auto* l) { return ctrl_lumo_device_query(l, 0, out); }, 3,
             "no link is open"},
            {"info closed",
             [](auto* l) {
                 ctrl_lumo_info i;
                 return ctrl_lumo_get_info(l, &i);
             },
             3, "no link is open"},
        });
    EXPECT_EQ(ctrl_lumo_close(link), CTRL_LUMO_OK); // closing nothing is fine
    EXPECT_STREQ(ctrl_lumo_last_error(link), "");
    ctrl_lumo_destroy(link);
}
