#include "base/triple_buffer.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

namespace quellora {
namespace {

// Every field derives from the first, so a value read half old, half new
// shows.
struct Stamped {
    std::array<std::int64_t, 16> fields{};

    static Stamped of(std::int64_t n) {
        Stamped value;
        for (std::size_t i = 0; i < value.fields.size(); ++i) {
            value.fields[i] = n * static_cast<std::int64_t>(i + 1);
        }
        return value;
    }
    bool whole() const {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i] != fields[0] * static_cast<std::int64_t>(i + 1)) {
                return false;
            }
        }
        return true;
    }
};

TEST(TripleBufferTest, ReadsTheInitialValueThenTheNewestPublished) {
    TripleBuffer<int> buffer(7);
    EXPECT_EQ(buffer.read(), 7);
    buffer.publish(1);
    buffer.publish(2);
    EXPECT_EQ(buffer.read(), 2);
    EXPECT_EQ(buffer.read(), 2);
    buffer.publish(3);
    EXPECT_EQ(buffer.read(), 3);
}

TEST(TripleBufferThreadedTest, ReaderSeesWholeValuesInPublishingOrder) {
    TripleBuffer<Stamped> buffer;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::int64_t n = 1; n <= 200000; ++n) {
            buffer.publish(Stamped::of(n));
        }
        done.store(true);
    });
    std::int64_t last = 0;
    std::int64_t torn = 0;
    std::int64_t backwards = 0;
    while (true) {
        const bool finished = done.load();
        const auto& value = buffer.read();
        torn += value.whole() ? 0 : 1;
        backwards += value.fields[0] < last ? 1 : 0;
        last = value.fields[0];
        if (finished) {
            break;
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(last, 200000);
}

} // namespace
} // namespace quellora
