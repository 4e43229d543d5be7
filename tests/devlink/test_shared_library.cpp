// A program that links only libCtrl_Lumo.so and uses nothing but its
// exports: the object can be built, used and destroyed.
#include <ctrl_lumo/lumo_net.h>

#include <gtest/gtest.h>

#include <memory>

TEST(SharedLibrary, ConstructsUsesAndDestroysTheObject) {
    for (int round = 0; round < 3; ++round) {
        auto net = std::make_unique<CLumo_Net>();
        EXPECT_EQ(net->m_LinkKind, LINK_NONE);
        EXPECT_EQ(net->m_ToPCStyle, 255);
        unsigned long version = 5;
        net->GetBIOSver(0, &version);
        EXPECT_EQ(version, 0u);
        net->SendState(1);
        EXPECT_EQ(net->m_SendState, 1);
        net->SendState(0);
        EXPECT_EQ(net->CloseCOM(), 1);
        EXPECT_EQ(net->Skarn_ClearBuffer(), 1);
        unsigned char out[2] = {7, 7};
        EXPECT_EQ(net->Skarn_Device(out, 0), 0);
        EXPECT_EQ(out[0], 7);
    }
}
