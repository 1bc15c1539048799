#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace quellora {

// Hands whole values from one writer thread to one reader thread without
// locks or waiting. Each side owns one of three values; the third sits in the
// middle. The writer fills its value and swaps it into the middle; the reader
// swaps the middle out when it holds something newer. A value is therefore
// never read while it is written, and the reader always gets the newest
// complete one. The reader's side never allocates, locks or blocks.
template <typename T>
class TripleBuffer {
public:
    explicit TripleBuffer(const T& initial = T{}) { values.fill(initial); }

    // Writer thread only.
    void publish(const T& value) {
        values[writing] = value;
        writing = middle.exchange(writing | freshBit, std::memory_order_acq_rel) & indexMask;
    }

    // Reader thread only: the newest published value, stable until the next call.
    const T& read() {
        if ((middle.load(std::memory_order_relaxed) & freshBit) != 0) {
            reading = middle.exchange(reading, std::memory_order_acq_rel) & indexMask;
        }
        return values[reading];
    }

private:
    static constexpr std::uint8_t indexMask = 3;
    static constexpr std::uint8_t freshBit = 4;

    std::array<T, 3> values;
    std::uint8_t writing = 0;
    alignas(64) std::atomic<std::uint8_t> middle{1};
    alignas(64) std::uint8_t reading = 2;
};

} // namespace quellora
