// Without a sink, messages go to standard error as "caption: text".
#include "lumo_net.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

TEST(MessageSink, DefaultWritesCaptionAndTextToStandardError) {
    char path[] = "/tmp/lumo_sink_XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stderr);
    int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    LumoShowMessage(L"Send Data Error!! Didn't Connect to 127.0.0.2\u00E910054", L"Error");
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);

    std::string got(256, '\0');
    got.resize(static_cast<size_t>(pread(file, got.data(), got.size(), 0)));
    close(file);
    unlink(path);
    EXPECT_EQ(got, "Error: Send Data Error!! Didn't Connect to 127.0.0.2\xC3\xA9"
                   "10054\n");
}
