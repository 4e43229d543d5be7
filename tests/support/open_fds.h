// Number of descriptors this process holds open, for leak checks.
#pragma once

#include <dirent.h>

namespace lumo_test {

inline int OpenFdCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

} // namespace lumo_test
