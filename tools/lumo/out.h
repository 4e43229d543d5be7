// Where lumo's reports go: a stream written as the run goes (standard
// output, a report file), or a spool that holds one target's report until
// its turn comes. A spool keeps its first kSpoolMemory bytes in memory and
// the rest in an unnamed temporary file, so a long run holds little. One
// thread at a time per object.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace lumo_cli {

inline constexpr size_t kSpoolMemory = size_t{1} << 20;

class Out {
public:
    virtual ~Out() = default;
    virtual void Write(std::string_view text) = 0;
    // printf into Write.
    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Whether a write has failed (the disk is full, the reader went away).
    bool Failed() const { return m_Failed; }

protected:
    bool m_Failed = false;
};

// Writes through to a stream (nothing when it is null), each write flushed
// at once when flushEach (a person or a script sees each line as it
// happens). The stream stays the caller's.
class FileOut final : public Out {
public:
    explicit FileOut(std::FILE* stream, bool flushEach = true) : m_Stream(stream), m_FlushEach(flushEach) {}
    void Write(std::string_view text) override;
    // Flushes; false when any write failed.
    bool Finish();

private:
    std::FILE* m_Stream;
    bool m_FlushEach;
};

class Spool final : public Out {
public:
    Spool() = default;
    ~Spool() override;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    Spool(Spool&& other) noexcept;
    Spool& operator=(Spool&& other) noexcept;

    void Write(std::string_view text) override;
    // Writes everything held to `to`, in the order written; the spool is
    // then empty again. False when reading back failed.
    bool MoveTo(Out& to);
    bool Empty() const { return m_Memory.empty() && !m_File; }

private:
    std::string m_Memory;
    std::FILE* m_File = nullptr; // what came after the first kSpoolMemory bytes
};

} // namespace lumo_cli
