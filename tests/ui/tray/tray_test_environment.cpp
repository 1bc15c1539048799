// Every test here draws on Qt's offscreen platform, whatever the desktop the
// tests run on; the applications the end-to-end test starts choose their own.

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class OffscreenPlatform final : public ::testing::Environment {
public:
    void SetUp() override { ::setenv("QT_QPA_PLATFORM", "offscreen", 1); }
};

const auto* const offscreenPlatform = ::testing::AddGlobalTestEnvironment(new OffscreenPlatform);

} // namespace
