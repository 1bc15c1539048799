#pragma once

#include "ui/tray/global_hot_key.h"

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace quellora {

// Tells presses of the hot key apart in the X11 key events: one of its
// keycodes with Control and Shift and no other modifier, whatever the state
// of CapsLock and NumLock. Holding the keys repeats presses without releases
// (Qt asks the server for detectable auto-repeat); they count once.
class HotKeyMatcher {
public:
    // X11 modifier bits.
    static constexpr std::uint16_t shiftMask = 1 << 0;
    static constexpr std::uint16_t capsLockMask = 1 << 1;
    static constexpr std::uint16_t controlMask = 1 << 2;
    static constexpr std::uint16_t numLockMask = 1 << 4;
    static constexpr std::uint16_t hotKeyModifiers = controlMask | shiftMask;
    // The lock states the grab has to cover, as they do not change what the
    // user pressed.
    static constexpr std::uint16_t lockVariants[] = {0, capsLockMask, numLockMask,
                                                     capsLockMask | numLockMask};

    explicit HotKeyMatcher(std::vector<std::uint8_t> keycodes)
        : keycodes_(std::move(keycodes)) {}

    // True for a new press of the hot key.
    bool press(std::uint8_t keycode, std::uint16_t state);
    // True when this release ends a press of the hot key.
    bool release(std::uint8_t keycode);
    // Whether a press of `keycode` with `state` is the hot key, repeated or not.
    bool matches(std::uint8_t keycode, std::uint16_t state) const;

private:
    std::vector<std::uint8_t> keycodes_;
    bool down_ = false;
};

// The hot key on an X11 display: a passive grab of the key on the root
// window, in every lock variant, through Qt's own connection; the events
// arrive through Qt's native event filter. Without an X11 display (Wayland)
// registration fails.
class X11GlobalHotKey final : public GlobalHotKey, private QAbstractNativeEventFilter {
public:
    X11GlobalHotKey() = default;
    ~X11GlobalHotKey() override;
    X11GlobalHotKey(const X11GlobalHotKey&) = delete;
    X11GlobalHotKey& operator=(const X11GlobalHotKey&) = delete;

    bool registerHotKey(std::function<void()> pressed) override;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void ungrab(std::size_t grabs);

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::vector<std::uint8_t> keycodes_;
    HotKeyMatcher matcher_{{}};
    std::function<void()> pressed_;
    bool filtering_ = false;
};

} // namespace quellora
