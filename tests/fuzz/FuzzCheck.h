// What every fuzz target shares: a check that stops the run with a message (libFuzzer keeps the
// input that caused it), and small helpers to cut one input into several values.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n  (%s)\n", __FILE__, __LINE__,   \
                         std::string(what).c_str(), #condition);                                   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// Takes bytes from the front of an input: a length byte, then that many bytes, and so on.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_rest(reinterpret_cast<const char*>(data), size) {}

    uint8_t Byte() {
        if (m_rest.empty())
            return 0;
        const uint8_t b = static_cast<uint8_t>(m_rest.front());
        m_rest.remove_prefix(1);
        return b;
    }
    // At most `max` bytes, as many as the next byte says.
    std::string_view Piece(size_t max) {
        const size_t wanted = std::min<size_t>(Byte(), max); // before the size is read
        const size_t n = std::min(wanted, m_rest.size());
        const std::string_view piece = m_rest.substr(0, n);
        m_rest.remove_prefix(n);
        return piece;
    }
    std::string_view Rest() const { return m_rest; }

private:
    std::string_view m_rest;
};

} // namespace fuzz
