// The C interface against the module simulator: what a program sees over
// TCP, UDP and a serial device path, why a link fails, links on several
// threads at once.
#include "ctrl_lumo_c.h"
#include "sim_process.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

using namespace simtest;

namespace {

std::string LastError(ctrl_lumo_link* link) {
    return ctrl_lumo_last_error(link);
}

Bytes Sent(const ctrl_lumo_result& r) {
    return Bytes(r.sent, r.sent + r.sent_len);
}

// One link, destroyed with the test.
struct Link {
    ctrl_lumo_link* p = ctrl_lumo_create();
    ~Link() { ctrl_lumo_destroy(p); }
};

} // namespace

TEST(CApiSim, TcpCommandsRawFramesAndDeviceQuery) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.44.1", "--tcp", "--id", "4"}));
    Link link;
    ASSERT_EQ(ctrl_lumo_open_tcp(link.p, "127.0.44.1", 0), CTRL_LUMO_OK) << LastError(link.p);
    ctrl_lumo_info info;
    ASSERT_EQ(ctrl_lumo_get_info(link.p, &info), CTRL_LUMO_OK);
    EXPECT_EQ(info.kind, CTRL_LUMO_LINK_TCP);
    EXPECT_EQ(info.module_id, 4);
    EXPECT_EQ(info.style, 17);
    EXPECT_EQ(info.mode_char, 'z');
    EXPECT_STREQ(info.name, "TCP 127.0.44.1:20036");

    ctrl_lumo_result r;
    ASSERT_EQ(ctrl_lumo_send_command(link.p, "za 1", &r), CTRL_LUMO_OK) << LastError(link.p);
    EXPECT_EQ(r.outcome, CTRL_LUMO_OUTCOME_ANSWERED);
    EXPECT_EQ(r.has_status, 1);
    EXPECT_STREQ(r.status, "Ack : OK: command za 1 done\r");
    EXPECT_EQ(r.has_data, 0);
    EXPECT_EQ(Sent(r), Cat(B("\x55\xAA\x48\xB7\x06\xF9\x07za 1"), {0, 0}));
    EXPECT_GE(r.round_trip_ms, 0);

    ASSERT_EQ(ctrl_lumo_send_command(link.p, "zh", &r), CTRL_LUMO_OK);
    EXPECT_EQ(r.is_query, 1);
    EXPECT_STREQ(r.data, "Device ID 4 Style 17 Ver 1.00");
    EXPECT_STREQ(r.caption, "Device Information");
    EXPECT_EQ(Bytes(r.answer, r.answer + r.answer_len),
              Cat(B("Device ID 4 Style 17 Ver 1.00"), {0x00, 0xFF, 0x5A, 0xA5, 0x01}));

    // too long for a Z frame: refused, nothing sent
    EXPECT_EQ(ctrl_lumo_send_command(link.p, std::string(254, 'q').c_str(), &r), CTRL_LUMO_ERR_ARGUMENT);
    EXPECT_EQ(r.outcome, CTRL_LUMO_OUTCOME_REFUSED_TOO_LONG);
    EXPECT_EQ(r.sent_len, 0u);
    EXPECT_NE(LastError(link.p).find("Command too long"), std::string::npos) << LastError(link.p);

    const unsigned char disconnect[] = {0x55, 0xAA, 0x4F, 0xB0, 0x01, 0xFE, 0x17, 0x00};
    int status = 0;
    ASSERT_EQ(ctrl_lumo_send_frame(link.p, disconnect, sizeof disconnect), CTRL_LUMO_OK);
    EXPECT_EQ(ctrl_lumo_check_ack(link.p, 5000, &status), CTRL_LUMO_OK) << LastError(link.p);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ctrl_lumo_check_ack(link.p, 50, &status), CTRL_LUMO_ERR_TIMEOUT);
    EXPECT_EQ(LastError(link.p), "TCP 127.0.44.1:20036: no acknowledgement within 50 ms");

    unsigned char out[2] = {};
    ASSERT_EQ(ctrl_lumo_device_query(link.p, 0, out), CTRL_LUMO_OK) << LastError(link.p);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x12, 0x34}));

    EXPECT_EQ(ctrl_lumo_close(link.p), CTRL_LUMO_OK);
    EXPECT_EQ(ctrl_lumo_send_command(link.p, "za 1", &r), CTRL_LUMO_ERR_NOT_OPEN);
}

TEST(CApiSim, FailuresSayWhy) {
    Link link;
    EXPECT_EQ(ctrl_lumo_open_tcp(link.p, "127.0.44.9", 0), CTRL_LUMO_ERR_CONNECT);
    EXPECT_EQ(LastError(link.p), "TCP 127.0.44.9:20036: refused (Connect failure!!)");
    EXPECT_EQ(ctrl_lumo_open_serial(link.p, "/dev/lumo-no-such-port", 9600), CTRL_LUMO_ERR_CONNECT);
    EXPECT_EQ(LastError(link.p), "/dev/lumo-no-such-port: No such file or directory (Connect Error!!)");

    // the device link's own box reaches the link whose call raised it
    ChildProcess closing;
    ASSERT_TRUE(closing.Start(LUMO_MODULE_SIM,
                              {"--address", "127.0.44.2", "--tcp", "--misbehave", "empty-greeting"}));
    EXPECT_EQ(ctrl_lumo_open_tcp(link.p, "127.0.44.2", 0), CTRL_LUMO_ERR_CONNECT);
    EXPECT_NE(LastError(link.p).find("[Error: Didn't Connect to 127.0.44.2]"), std::string::npos)
        << LastError(link.p);

    // the module goes away under an open link
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.44.3", "--tcp", "--style", "3"}));
    ASSERT_EQ(ctrl_lumo_open_tcp(link.p, "127.0.44.3", 0), CTRL_LUMO_OK) << LastError(link.p);
    sim.Stop();
    int code = CTRL_LUMO_ERR_TIMEOUT;
    for (int i = 0; i < 500 && code == CTRL_LUMO_ERR_TIMEOUT; ++i)
        code = ctrl_lumo_check_ack(link.p, 10, nullptr);
    EXPECT_EQ(code, CTRL_LUMO_ERR_LINK_LOST);
    EXPECT_EQ(LastError(link.p), "TCP 127.0.44.3:20036: the module closed the link");
}

// A serial device path and UDP on one thread, TCP on another, at once.
TEST(CApiSim, LinksOnSeveralThreads) {
    ChildProcess a, b;
    ASSERT_TRUE(a.Start(LUMO_MODULE_SIM, {"--address", "127.0.44.5", "--udp", "--serial"}));
    ASSERT_TRUE(b.Start(LUMO_MODULE_SIM, {"--address", "127.0.44.6", "--tcp", "--style", "3", "--id", "2"}));
    auto tcp = std::async(std::launch::async, [] {
        Link link;
        int sent = 0;
        if (ctrl_lumo_open_tcp(link.p, "127.0.44.6", 0) == CTRL_LUMO_OK)
            for (int i = 0; i < 20; ++i) { // style 3 reads no line: each Send returns at once
                ctrl_lumo_result r;
                sent += ctrl_lumo_send_command(link.p, "za 1", &r) == CTRL_LUMO_OK &&
                        r.outcome == CTRL_LUMO_OUTCOME_NOT_READ;
            }
        return sent;
    });

    Link serial, udp;
    ASSERT_EQ(ctrl_lumo_open_serial(serial.p, a.SerialPath().c_str(), 115200), CTRL_LUMO_OK)
        << LastError(serial.p);
    ctrl_lumo_info info;
    ASSERT_EQ(ctrl_lumo_get_info(serial.p, &info), CTRL_LUMO_OK);
    EXPECT_EQ(info.name, a.SerialPath());
    EXPECT_EQ(info.prompt_seen, 1);
    unsigned char out[2] = {};
    EXPECT_EQ(ctrl_lumo_device_query(serial.p, 0, out), CTRL_LUMO_OK) << LastError(serial.p);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x12, 0x34}));

    ASSERT_EQ(ctrl_lumo_open_udp(udp.p, "127.0.44.5"), CTRL_LUMO_OK) << LastError(udp.p);
    ctrl_lumo_result r;
    ASSERT_EQ(ctrl_lumo_send_command(udp.p, "zb 1", &r), CTRL_LUMO_OK);
    EXPECT_STREQ(r.status, "Ack : OK: command zb 1 done\r");
    EXPECT_EQ(Sent(r), B(std::string("zb 1\0", 5)));
    EXPECT_EQ(ctrl_lumo_device_query(udp.p, 0, out), CTRL_LUMO_ERR_WRONG_LINK);
    EXPECT_EQ(tcp.get(), 20);
}

// A second thread is turned away from a busy link; destroying it waits for the call.
TEST(CApiSim, OneThreadPerLink) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.44.7", "--serial"}));
    ctrl_lumo_link* link = ctrl_lumo_create();
    ASSERT_EQ(ctrl_lumo_set_pauses(link, 1), CTRL_LUMO_OK);
    auto open = std::async(std::launch::async, [&] { // with the console's pauses the prompt wait takes 1.5 s
        return ctrl_lumo_open_serial(link, sim.SerialPath().c_str(), 9600);
    });
    int code = CTRL_LUMO_OK;
    ctrl_lumo_result r;
    while (code != CTRL_LUMO_ERR_BUSY &&
           open.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        code = ctrl_lumo_send_command(link, "zh", &r);
    EXPECT_EQ(code, CTRL_LUMO_ERR_BUSY);
    EXPECT_EQ(LastError(link), "the link is in use by another thread");
    ctrl_lumo_destroy(link); // waits for the open, then closes and frees
    EXPECT_EQ(open.get(), CTRL_LUMO_OK);
    EXPECT_EQ(ctrl_lumo_send_command(link, "zh", &r), CTRL_LUMO_ERR_ARGUMENT);
}

// A fleet: each module's answer on its own target, in target order, the
// refused one named with its reason; a scan finds the modules only.
TEST(CApiSim, FleetRunAndScan) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.44.16-19", "--tcp", "--id-step", "1"}));
    const char* targets[] = {"127.0.44.16-18", "127.0.44.20", "127.0.44.19"};
    ctrl_lumo_fleet_options options{};
    options.jobs = 2;
    ctrl_lumo_fleet* fleet = ctrl_lumo_fleet_create(targets, 3, &options);
    ASSERT_NE(fleet, nullptr) << ctrl_lumo_last_error(nullptr);
    ASSERT_EQ(ctrl_lumo_fleet_size(fleet), 5u);
    const char* commands[] = {"zh", "za 1"};
    EXPECT_EQ(ctrl_lumo_fleet_run(fleet, commands, 2), CTRL_LUMO_ERR_CONNECT);
    EXPECT_EQ(std::string(ctrl_lumo_fleet_last_error(fleet)),
              "1 of 5 links did not open (each target's error says why)");
    const int ids[] = {1, 2, 3, -1, 4};
    for (size_t i = 0; i < 5; ++i) {
        ctrl_lumo_target t;
        ASSERT_EQ(ctrl_lumo_fleet_target(fleet, i, &t), CTRL_LUMO_OK);
        EXPECT_EQ(t.module_id, ids[i]) << t.address;
        if (ids[i] < 0) {
            EXPECT_STREQ(t.address, "127.0.44.20");
            EXPECT_EQ(t.reached, 0);
            EXPECT_EQ(t.results, 0u);
            EXPECT_STREQ(t.error, "TCP 127.0.44.20:20036: refused (Connect failure!!)");
            continue;
        }
        ASSERT_EQ(t.results, 2u) << t.address;
        ctrl_lumo_result r;
        ASSERT_EQ(ctrl_lumo_fleet_result(fleet, i, 0, &r), CTRL_LUMO_OK);
        EXPECT_EQ(r.data, "Device ID " + std::to_string(ids[i]) + " Style 17 Ver 1.00");
        ASSERT_EQ(ctrl_lumo_fleet_result(fleet, i, 1, &r), CTRL_LUMO_OK);
        EXPECT_STREQ(r.status, "Ack : OK: command za 1 done\r");
    }
    ctrl_lumo_result r;
    EXPECT_EQ(ctrl_lumo_fleet_result(fleet, 3, 0, &r), CTRL_LUMO_ERR_ARGUMENT);

    EXPECT_EQ(ctrl_lumo_fleet_scan(fleet), CTRL_LUMO_OK);
    ctrl_lumo_target t;
    ASSERT_EQ(ctrl_lumo_fleet_target(fleet, 4, &t), CTRL_LUMO_OK);
    EXPECT_EQ(t.reached, 1);
    EXPECT_EQ(t.mode_char, 'z');
    EXPECT_GE(t.connect_us, 0);
    ASSERT_EQ(ctrl_lumo_fleet_target(fleet, 3, &t), CTRL_LUMO_OK);
    EXPECT_EQ(t.reached, 0);
    EXPECT_STREQ(t.error, "127.0.44.20: refused");
    ctrl_lumo_fleet_destroy(fleet);

    const char* bad[] = {"127.0.44.9-3"};
    EXPECT_EQ(ctrl_lumo_fleet_create(bad, 1, nullptr), nullptr);
    EXPECT_STREQ(ctrl_lumo_last_error(nullptr), "the range runs backwards: '127.0.44.9-3'");
    options.jobs = 5000;
    EXPECT_EQ(ctrl_lumo_fleet_create(targets, 1, &options), nullptr);
    EXPECT_EQ(ctrl_lumo_fleet_scan(nullptr), CTRL_LUMO_ERR_ARGUMENT);
}
