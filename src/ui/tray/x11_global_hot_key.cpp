#include "ui/tray/x11_global_hot_key.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>

namespace quellora {
namespace {

// XK_c: the key that types "c".
constexpr xcb_keysym_t keysymC = 0x63;

// Every modifier but the two locks changes what was pressed.
constexpr std::uint16_t significantModifiers =
    0xff & ~(HotKeyMatcher::capsLockMask | HotKeyMatcher::numLockMask);

std::vector<std::uint8_t> keycodesOf(xcb_connection_t* connection, xcb_keysym_t keysym) {
    std::vector<std::uint8_t> keycodes;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    if (symbols == nullptr) {
        return keycodes;
    }
    if (xcb_keycode_t* found = xcb_key_symbols_get_keycode(symbols, keysym)) {
        for (const xcb_keycode_t* code = found; *code != XCB_NO_SYMBOL; ++code) {
            keycodes.push_back(*code);
        }
        std::free(found);
    }
    xcb_key_symbols_free(symbols);
    return keycodes;
}

} // namespace

bool HotKeyMatcher::matches(std::uint8_t keycode, std::uint16_t state) const {
    return (state & significantModifiers) == hotKeyModifiers &&
           std::find(keycodes_.begin(), keycodes_.end(), keycode) != keycodes_.end();
}

bool HotKeyMatcher::press(std::uint8_t keycode, std::uint16_t state) {
    if (!matches(keycode, state)) {
        return false;
    }
    return !std::exchange(down_, true);
}

bool HotKeyMatcher::release(std::uint8_t keycode) {
    if (!down_ || std::find(keycodes_.begin(), keycodes_.end(), keycode) == keycodes_.end()) {
        return false;
    }
    down_ = false;
    return true;
}

X11GlobalHotKey::~X11GlobalHotKey() {
    if (filtering_ && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    ungrab(keycodes_.size() * std::size(HotKeyMatcher::lockVariants));
}

bool X11GlobalHotKey::registerHotKey(std::function<void()> pressed) {
    const auto* x11 = qGuiApp != nullptr
                          ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                          : nullptr;
    // Qt answers for X11 also on other platforms (offscreen), without a connection.
    if (x11 == nullptr || x11->connection() == nullptr || connection_ != nullptr) {
        return false;
    }
    connection_ = x11->connection();
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    keycodes_ = keycodesOf(connection_, keysymC);

    std::size_t grabs = 0;
    for (const auto keycode : keycodes_) {
        for (const auto locks : HotKeyMatcher::lockVariants) {
            const auto cookie =
                xcb_grab_key_checked(connection_, 1, root_, HotKeyMatcher::hotKeyModifiers | locks,
                                     keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            // Another client holding the combination answers BadAccess.
            if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
                std::free(error);
                ungrab(grabs);
                keycodes_.clear();
                connection_ = nullptr;
                return false;
            }
            ++grabs;
        }
    }
    if (keycodes_.empty()) {
        connection_ = nullptr;
        return false;
    }
    matcher_ = HotKeyMatcher(keycodes_);
    pressed_ = std::move(pressed);
    QCoreApplication::instance()->installNativeEventFilter(this);
    filtering_ = true;
    return true;
}

void X11GlobalHotKey::ungrab(std::size_t grabs) {
    if (connection_ == nullptr) {
        return;
    }
    // In the order registerHotKey made them, so a partial registration
    // releases exactly what it took.
    std::size_t released = 0;
    for (const auto keycode : keycodes_) {
        for (const auto locks : HotKeyMatcher::lockVariants) {
            if (released++ == grabs) {
                xcb_flush(connection_);
                return;
            }
            xcb_ungrab_key(connection_, keycode, root_, HotKeyMatcher::hotKeyModifiers | locks);
        }
    }
    xcb_flush(connection_);
}

bool X11GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & ~0x80) {
    case XCB_KEY_PRESS: {
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (!matcher_.matches(key->detail, key->state)) {
            return false;
        }
        if (matcher_.press(key->detail, key->state) && pressed_) {
            pressed_();
        }
        return true;
    }
    case XCB_KEY_RELEASE: {
        const auto* key = reinterpret_cast<const xcb_key_release_event_t*>(event);
        return matcher_.release(key->detail);
    }
    default:
        return false;
    }
}

} // namespace quellora
