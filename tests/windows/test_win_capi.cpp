// ctrl_lumo_c.dll as a program of any Windows compiler uses it, under Wine
// against the Linux simulator at 127.0.25.4 (simulators.sh): TCP, UDP and
// COM12 (its pseudo-terminal, opened as \\.\COM12).
#include "ctrl_lumo_c.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Link {
    ctrl_lumo_link* p = ctrl_lumo_create();
    ~Link() { ctrl_lumo_destroy(p); }
};

std::string LastError(const ctrl_lumo_link* link) {
    const char* e = ctrl_lumo_last_error(link);
    return e ? e : "";
}

TEST(WindowsCApi, TcpCommandAndQuery) {
    Link link;
    ASSERT_EQ(ctrl_lumo_open_tcp(link.p, "127.0.25.4", 0), CTRL_LUMO_OK) << LastError(link.p);
    ctrl_lumo_info info;
    ASSERT_EQ(ctrl_lumo_get_info(link.p, &info), CTRL_LUMO_OK);
    EXPECT_EQ(info.module_id, 4);
    EXPECT_STREQ(info.name, "TCP 127.0.25.4:20036");
    ctrl_lumo_result r;
    ASSERT_EQ(ctrl_lumo_send_command(link.p, "za 1", &r), CTRL_LUMO_OK) << LastError(link.p);
    EXPECT_STREQ(r.status, "Ack : OK: command za 1 done\r");
    ASSERT_EQ(ctrl_lumo_send_command(link.p, "zh", &r), CTRL_LUMO_OK) << LastError(link.p);
    EXPECT_STREQ(r.data, "Device ID 4 Style 17 Ver 1.00");
    EXPECT_STREQ(r.caption, "Device Information");
    EXPECT_EQ(ctrl_lumo_close(link.p), CTRL_LUMO_OK);
}

TEST(WindowsCApi, RefusedConnectSaysWhy) {
    Link link;
    EXPECT_EQ(ctrl_lumo_open_tcp(link.p, "127.0.25.249", 0), CTRL_LUMO_ERR_CONNECT);
    EXPECT_EQ(LastError(link.p), "TCP 127.0.25.249:20036: refused (Connect failure!!)");
}

TEST(WindowsCApi, UdpQuery) {
    Link link;
    ASSERT_EQ(ctrl_lumo_open_udp(link.p, "127.0.25.4"), CTRL_LUMO_OK) << LastError(link.p);
    ctrl_lumo_result r;
    ASSERT_EQ(ctrl_lumo_send_command(link.p, "zs", &r), CTRL_LUMO_OK) << LastError(link.p);
    EXPECT_EQ(r.has_data, 1);
    EXPECT_STREQ(r.data, "Signal 1920x1080 60Hz\r");
}

TEST(WindowsCApi, SerialPortAboveNine) {
    Link link;
    ASSERT_EQ(ctrl_lumo_open_serial(link.p, "COM12", 115200), CTRL_LUMO_OK) << LastError(link.p);
    ctrl_lumo_info info;
    ASSERT_EQ(ctrl_lumo_get_info(link.p, &info), CTRL_LUMO_OK);
    EXPECT_EQ(info.prompt_seen, 1);
    ctrl_lumo_result r;
    ASSERT_EQ(ctrl_lumo_send_command(link.p, "za 7", &r), CTRL_LUMO_OK) << LastError(link.p);
    EXPECT_STREQ(r.status, "Ack : command za 7 done\r"); // the serial acknowledgement word
    EXPECT_EQ(ctrl_lumo_close(link.p), CTRL_LUMO_OK);
}

} // namespace
