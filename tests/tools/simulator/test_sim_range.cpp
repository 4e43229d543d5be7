// The addresses of lumo-module-sim --address: one address, A-B, A/N.
#include "sim_range.h"

#include <gtest/gtest.h>

using namespace modsim;

TEST(SimRange, ParsesAddressesRangesAndBlocks) {
    struct {
        const char* text;
        uint32_t first, last;
    } rows[] = {
        {"127.0.0.1", 0x7F000001, 0x7F000001},           {"127.0.92.0/22", 0x7F005C00, 0x7F005FFF},
        {"127.0.92.77/22", 0x7F005C00, 0x7F005FFF}, // the host bits are dropped
        {"127.0.0.5-127.0.1.4", 0x7F000005, 0x7F000104}, {"127.0.0.9-127.0.0.9", 0x7F000009, 0x7F000009},
        {"127.0.0.7/32", 0x7F000007, 0x7F000007},        {"0.0.0.0/0", 0, 0xFFFFFFFF},
        {"10.1.2.3/31", 0x0A010202, 0x0A010203},
    };
    for (const auto& r : rows) {
        AddressRange range;
        std::string why;
        ASSERT_TRUE(ParseAddressRange(r.text, &range, &why)) << r.text << ": " << why;
        EXPECT_EQ(range.first, r.first) << r.text;
        EXPECT_EQ(range.last, r.last) << r.text;
    }
    AddressRange all;
    std::string why;
    ASSERT_TRUE(ParseAddressRange("0.0.0.0/0", &all, &why));
    EXPECT_EQ(all.Count(), uint64_t(1) << 32);
    AddressRange block;
    ASSERT_TRUE(ParseAddressRange("127.0.92.0/22", &block, &why));
    EXPECT_EQ(block.Count(), 1024u);
    EXPECT_EQ(AddressText(block.At(261)), "127.0.93.5");
    EXPECT_EQ(AddressText(block.At(1023)), "127.0.95.255");
}

TEST(SimRange, RefusesWhatIsNoRange) {
    for (const char* text :
         {"", "127.0.0", "127.0.0.1.", "127.0.0.256", "1234.0.0.1", "127.0.0.01x", " 127.0.0.1", "127..0.1",
          "127.0.0.1/33", "127.0.0.1/", "127.0.0.1/2x", "127.0.0.1/-1", "127.0.0.2-127.0.0.1", "127.0.0.1-",
          "127.0.0.1-127.0.0.2/24", "127.0.0.1/24-127.0.0.9", "localhost"}) {
        AddressRange range;
        std::string why;
        EXPECT_FALSE(ParseAddressRange(text, &range, &why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
}
