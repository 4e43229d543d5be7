#include "out.h"

#include <cstdarg>
#include <utility>

namespace lumo_cli {

void Out::Printf(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        m_Failed = true;
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        Write(std::string_view(small, static_cast<size_t>(n)));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    big.pop_back();
    Write(big);
}

void FileOut::Write(std::string_view text) {
    if (!m_Stream)
        return;
    if (std::fwrite(text.data(), 1, text.size(), m_Stream) != text.size() ||
        (m_FlushEach && std::fflush(m_Stream) != 0))
        m_Failed = true;
}

bool FileOut::Finish() {
    if (m_Stream && std::fflush(m_Stream) != 0)
        m_Failed = true;
    return !m_Failed;
}

Spool::~Spool() {
    if (m_File)
        std::fclose(m_File);
}

Spool::Spool(Spool&& other) noexcept
    : Out(other), m_Memory(std::move(other.m_Memory)), m_File(std::exchange(other.m_File, nullptr)) {}

Spool& Spool::operator=(Spool&& other) noexcept {
    if (this != &other) {
        if (m_File)
            std::fclose(m_File);
        m_Failed = other.m_Failed;
        m_Memory = std::move(other.m_Memory);
        m_File = std::exchange(other.m_File, nullptr);
    }
    return *this;
}

void Spool::Write(std::string_view text) {
    if (!m_File && m_Memory.size() + text.size() <= kSpoolMemory) {
        m_Memory.append(text);
        return;
    }
    if (!m_File && !(m_File = std::tmpfile())) {
        m_Failed = true;
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), m_File) != text.size())
        m_Failed = true;
}

bool Spool::MoveTo(Out& to) {
    bool ok = true;
    to.Write(m_Memory);
    m_Memory.clear();
    m_Memory.shrink_to_fit();
    if (m_File) {
        ok = std::fflush(m_File) == 0 && std::fseek(m_File, 0, SEEK_SET) == 0;
        char buf[65536];
        size_t n;
        while (ok && (n = std::fread(buf, 1, sizeof buf, m_File)) > 0)
            to.Write(std::string_view(buf, n));
        ok = ok && !std::ferror(m_File);
        std::fclose(m_File);
        m_File = nullptr;
    }
    return ok && !m_Failed;
}

} // namespace lumo_cli
