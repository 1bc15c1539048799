// One widgets application for a whole test program, on Qt's offscreen
// platform unless the environment asks for another. Linked into each widget
// test program as a source, so that its registration is never dropped.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace {

class WidgetsApplicationEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char programName_[24] = "quellora_ui_tests";
    char* argv_[2] = {programName_, nullptr};
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new WidgetsApplicationEnvironment);

} // namespace
