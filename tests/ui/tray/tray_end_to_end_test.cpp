// The tray application as people run it: on an X server (Xvfb) with an
// XEmbed tray (trayer) or without one, on the simulated audio server, driven with the
// pointer and keyboard through xdotool and queried with `quellora status`.

#include "private_pipewire_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

namespace quellora {
namespace {

using integration::ChildProcess;
using integration::PrivatePipeWireSession;
using integration::runCommand;
using integration::waitUntil;

constexpr std::chrono::milliseconds deadline(20000);

struct Window {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

bool isIcon(const Window& window) {
    return window.width <= 64 && window.x > 0;
}
bool isPanel(const Window& window) {
    return window.width == 300;
}

class TrayEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The X server picks a free display and prints its number.
        xServer.emplace(ChildProcess::start(
            {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"}));
        ASSERT_TRUE(xServer->waitForOutput("\n", deadline)) << xServer->errors();
        display = "DISPLAY=:" + xServer->output().substr(0, xServer->output().find('\n'));
    }
    void startTray() {
        tray.emplace(ChildProcess::start(
            onDisplay({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                       "--height", "24", "--SetDockType", "false", "--transparent", "false"}),
            {session.file("trayer.log"), {}}));
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "--- quellora.log\n"
                      << runCommand({"cat", log.string()}).output << "--- trayer.log\n"
                      << runCommand({"cat", session.file("trayer.log").string()}).output
                      << "--- Xvfb on " << display << "\n"
                      << (xServer ? xServer->errors() : "");
        }
    }

    // `command` with the test's X server, leaving this process's own
    // environment alone.
    std::vector<std::string> onDisplay(std::vector<std::string> command) const {
        command.insert(command.begin(), {"env", display});
        return command;
    }
    ChildProcess startQuellora(const std::string& permission = "authorized") {
        return ChildProcess::start(
            onDisplay({"QT_QPA_PLATFORM=xcb", "QUELLORA_HAL=simulated",
                       "QUELLORA_PERMISSION=" + permission, QUELLORA_EXECUTABLE}),
            {log, {}});
    }

    // The application's windows on screen whose title matches `title`.
    std::vector<Window> windowsOf(const ChildProcess& app, const std::string& title = ".*") {
        auto search = onDisplay(
            {"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(app.pid())});
        search.insert(search.end(), {"--name", title, "getwindowgeometry", "--shell", "%@"});
        static const std::map<std::string, int Window::*> fields{{"X", &Window::x},
                                                                 {"Y", &Window::y},
                                                                 {"WIDTH", &Window::width},
                                                                 {"HEIGHT", &Window::height}};
        std::vector<Window> windows;
        std::istringstream shell(runCommand(search).output);
        for (std::string line; std::getline(shell, line);) {
            const auto key = line.substr(0, line.find('='));
            if (key == "WINDOW") {
                windows.emplace_back();
            } else if (fields.contains(key) && !windows.empty()) {
                windows.back().*fields.at(key) = std::stoi(line.substr(key.size() + 1));
            }
        }
        return windows;
    }
    std::optional<Window> waitForWindow(const ChildProcess& app,
                                        const std::function<bool(const Window&)>& match,
                                        const std::string& title = ".*") {
        std::optional<Window> found;
        waitUntil(
            [&] {
                for (const auto& window : windowsOf(app, title)) {
                    found = match(window) ? std::optional(window) : found;
                }
                return found.has_value();
            },
            deadline);
        return found;
    }
    bool waitForStatus(const std::string& mode) {
        return waitUntil(
            [&] {
                return runCommand({QUELLORA_EXECUTABLE, "status"}).output == mode + "\n";
            },
            deadline);
    }
    void xdotool(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), "xdotool");
        ASSERT_EQ(runCommand(onDisplay(arguments)).exitStatus, 0);
    }
    void click(const Window& window) const {
        xdotool({"mousemove", "--sync", std::to_string(window.x + window.width / 2),
                 std::to_string(window.y + window.height / 2), "click", "1"});
    }
    bool waitForNoPanel(const ChildProcess& app) {
        return waitUntil(
            [&] {
                const auto windows = windowsOf(app);
                return std::none_of(windows.begin(), windows.end(), isPanel);
            },
            deadline);
    }

    PrivatePipeWireSession session{{.startAudioServer = false}};
    std::filesystem::path log = session.file("quellora.log");
    std::string display;
    std::optional<ChildProcess> xServer;
    std::optional<ChildProcess> tray;
};

TEST_F(TrayEndToEndTest, IconOpensThePanelHotKeyTogglesAndASecondLaunchHandsOver) {
    startTray();
    auto app = startQuellora();
    const auto icon = waitForWindow(app, isIcon);
    ASSERT_TRUE(icon) << "no icon docked in the tray";
    ASSERT_TRUE(waitForStatus("on"));

    click(*icon);
    const auto panel = waitForWindow(app, isPanel);
    ASSERT_TRUE(panel) << "the click opened no panel";
    EXPECT_GE(panel->y, icon->y + icon->height);
    xdotool({"key", "Escape"});
    EXPECT_TRUE(waitForNoPanel(app));

    xdotool({"key", "ctrl+shift+c"});
    EXPECT_TRUE(waitForStatus("off"));
    xdotool({"key", "ctrl+shift+c"});
    EXPECT_TRUE(waitForStatus("on"));

    const auto second =
        runCommand(onDisplay({"QT_QPA_PLATFORM=xcb", QUELLORA_EXECUTABLE}), deadline);
    EXPECT_EQ(second.exitStatus, 0) << second.errors;
    EXPECT_TRUE(waitForWindow(app, isPanel)) << "the running instance did not open its panel";
    EXPECT_EQ(app.stop(), 0);
}

TEST_F(TrayEndToEndTest, WithoutThePermissionTheSetupWindowComesUp) {
    startTray();
    auto app = startQuellora("denied");
    const auto setup = waitForWindow(
        app, [](const Window& window) { return window.width == 340; }, "^Quellora$");
    EXPECT_TRUE(setup) << "no setup window";
    EXPECT_TRUE(waitForStatus("needsPermission"));
    EXPECT_EQ(app.stop(), 0);
}

TEST_F(TrayEndToEndTest, WithoutATrayThePanelIsAWindowUntilATrayAppears) {
    auto app = startQuellora();
    ASSERT_TRUE(waitForStatus("on"));
    ASSERT_TRUE(waitForWindow(app, isPanel, "^Quellora$")) << "nothing on screen without a tray";
    // A tray that comes later takes the icon, and the window goes. A click
    // as soon as the icon docks, before Quellora looks for a tray again,
    // already drops the panel from the icon.
    startTray();
    const auto icon = waitForWindow(app, isIcon);
    ASSERT_TRUE(icon) << "no icon docked in the tray that appeared";
    click(*icon);
    const int iconBottom = icon->y + icon->height;
    EXPECT_TRUE(waitForWindow(app, [&](const Window& panel) {
        return isPanel(panel) && panel.y >= iconBottom;
    })) << "the icon opened no panel under it";
    xdotool({"key", "Escape"});
    EXPECT_TRUE(waitForNoPanel(app));
    EXPECT_EQ(app.stop(), 0);
}

// Without a tray the panel is a window that only minimises when closed:
// a termination signal still ends the application, cleanly.
TEST_F(TrayEndToEndTest, WithoutATrayATerminationSignalEndsIt) {
    auto app = startQuellora();
    ASSERT_TRUE(waitForWindow(app, isPanel, "^Quellora$")) << "nothing on screen without a tray";
    EXPECT_EQ(app.stop(), 0);
}

// The user service (`quellora run`) steps aside while the tray application
// runs, and takes over again when it quits; the commands reach whichever runs.
TEST_F(TrayEndToEndTest, TheServiceStepsAsideForTheTrayApplicationAndComesBack) {
    startTray();
    auto service =
        ChildProcess::start({"env", "QUELLORA_HAL=simulated", QUELLORA_EXECUTABLE, "run"});
    ASSERT_TRUE(service.waitForOutput("Quellora is on.\n", deadline)) << service.errors();
    EXPECT_TRUE(waitForStatus("on"));

    auto app = startQuellora();
    ASSERT_TRUE(waitForWindow(app, isIcon)) << "no icon docked in the tray";
    EXPECT_TRUE(service.waitForOutput(
        "The tray application took over; this one waits and takes over again when it quits.\n",
        deadline))
        << service.output();
    xdotool({"key", "ctrl+shift+c"});
    EXPECT_TRUE(waitForStatus("off")); // the tray application's mode

    EXPECT_EQ(app.stop(), 0);
    EXPECT_TRUE(service.waitForOutput(
        "The Quellora this one waited for has stopped; this one takes over.\nQuellora is on.\n",
        deadline))
        << service.output();
    EXPECT_TRUE(waitForStatus("on"));
    service.sendSignal(SIGTERM);
    EXPECT_EQ(service.waitForExit(deadline), 0) << service.errors();
}

} // namespace
} // namespace quellora
