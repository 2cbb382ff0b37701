// What every fuzz target takes from its input: one byte at a time (zero once
// it is spent), or a run of bytes, and a check that stops the run as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzzinput {

inline void check(bool ok) {
    if (!ok)
        abort();
}

struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t byte() {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
    bool empty() const { return n == 0; }
    // Up to `most` bytes; a zero byte becomes '0' unless `zeros` allows it.
    std::string bytes(size_t most, bool zeros = true) {
        std::string out;
        for (size_t k = byte() % (most + 1); k > 0 && !empty(); --k) {
            const char c = static_cast<char>(byte());
            out += c != '\0' || zeros ? c : '0';
        }
        return out;
    }
};

} // namespace fuzzinput
