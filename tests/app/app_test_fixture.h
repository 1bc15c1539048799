#pragma once

#include "app/app_state.h"
#include "base/manual_dispatcher.h"
#include "support/log_capture.h"
#include "support/scripted_hal.h"
#include "support/scripted_permission_source.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace quellora {

// A login-item service whose answers a test sets.
class ScriptedLoginItem final : public LoginItemService {
public:
    LoginItemStatus status() const override { return status_; }
    void registerItem() override {
        ++registrations;
        if (!failure.empty()) {
            throw LoginItemError(failure);
        }
        status_ = answerToRegister;
    }
    void unregisterItem() override {
        if (!failure.empty()) {
            throw LoginItemError(failure);
        }
        status_ = LoginItemStatus::notRegistered;
    }

    LoginItemStatus status_ = LoginItemStatus::notRegistered;
    LoginItemStatus answerToRegister = LoginItemStatus::enabled;
    std::string failure; // non-empty: every call throws this
    int registrations = 0;
};

// The model on a simulated server with speakers, on virtual time, with
// settings in memory.
class AppStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        hal.setDefaultOutput(speakers);
        mainQueue.runUntilIdle();
    }
    void TearDown() override { model.reset(); }

    AppState& makeModel() {
        model = std::make_unique<AppState>(
            AppServices{hal, mainQueue, diagnosticsQueue, {}, settings, permission, loginItem});
        return *model;
    }
    // A model whose engine has started processing.
    AppState& runningModel() {
        makeModel();
        advance(0.4);
        EXPECT_EQ(model->mode().get(), AppMode::on());
        EXPECT_FALSE(model->engine().compressor().bypassed());
        return *model;
    }

    void advance(double seconds) { mainQueue.advance(quellora::seconds(seconds)); }
    bool logged(const std::string& message) const { return log.logged(message); }
    std::size_t logCount(const std::string& message) const { return log.count(message); }

    testing::LogCapture log;
    ManualDispatcher mainQueue;
    ManualDispatcher diagnosticsQueue;
    ScriptedHal hal{mainQueue};
    AudioObjectID speakers = hal.addOutputDevice({.uid = "speakers"});
    std::shared_ptr<InMemoryKeyValueStore> settings = std::make_shared<InMemoryKeyValueStore>();
    std::shared_ptr<ScriptedPermissionSource> permission =
        std::make_shared<ScriptedPermissionSource>();
    std::shared_ptr<ScriptedLoginItem> loginItem = std::make_shared<ScriptedLoginItem>();
    std::unique_ptr<AppState> model;
};

} // namespace quellora
