// A pseudo-terminal pair that stands in for serial port COM<N>: the device
// link opens the slave (through LUMO_COM<N>), the test plays the module on
// the master.
#pragma once

#include "test_bytes.h"

#include <chrono>
#include <string>
#include <string_view>

namespace lumo_test {

class PtyPair {
public:
    // Opens the pair in raw mode and sets LUMO_COM<comNumber> to the slave
    // path (call before starting threads: setenv is not thread-safe).
    explicit PtyPair(int comNumber);
    // Unsets LUMO_COM<comNumber> and closes both ends.
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_Master >= 0; }
    int ComNumber() const { return m_ComNumber; }
    const std::string& SlavePath() const { return m_SlavePath; }
    int MasterFd() const { return m_Master; }

    // Module -> link. Blocks at most 2 s; false on failure.
    bool Write(const Bytes& bytes);
    bool Write(std::string_view text);
    // Waits until at least `count` bytes wait to be read on the link's side:
    // the terminal hands written bytes over a moment later. False on time-out.
    bool WaitDelivered(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(2)) const;
    // Collects until `count` bytes came or the time-out passed; returns what came.
    Bytes ReadExact(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Collects until `last` has arrived (included) or the time-out passed.
    Bytes ReadUntil(unsigned char last, std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Collects until nothing new came for `idle` (or `timeout` in all).
    Bytes ReadUntilIdle(std::chrono::milliseconds idle,
                        std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Drops whatever the link has written so far.
    void Drain();

private:
    int m_ComNumber;
    int m_Master = -1;
    int m_Slave = -1; // kept open so the terminal outlives the link's own descriptor
    std::string m_SlavePath;
    std::string m_EnvName;
};

} // namespace lumo_test
