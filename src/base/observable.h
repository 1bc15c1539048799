#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace quellora {

// Ends an observation when destroyed (or on reset()).
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel)
        : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept
        : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (cancel_) {
            std::exchange(cancel_, {})();
        }
    }

private:
    std::function<void()> cancel_;
};

// A value with observers, notified only when an assignment changes it.
// Main thread only. Observers may subscribe or end subscriptions while being
// notified; a subscription may outlive its observable.
template <typename T>
class Observable {
public:
    using Observer = std::function<void(const T&)>;

    Observable() = default;
    explicit Observable(T initial)
        : value_(std::move(initial)) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& get() const { return value_; }
    operator const T&() const { return value_; }

    void set(T value) {
        if (value == value_) {
            return;
        }
        value_ = std::move(value);
        const auto observers = observers_->entries; // a copy: observers may change the list
        for (const auto& entry : observers) {
            if (entry->active) {
                entry->observer(value_);
            }
        }
    }
    Observable& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    // Observing does not change the value, so const observers may subscribe.
    [[nodiscard]] Subscription subscribe(Observer observer) const {
        auto entry = std::make_shared<Entry>(Entry{std::move(observer), true});
        observers_->entries.push_back(entry);
        std::weak_ptr<Observers> weakObservers = observers_;
        std::weak_ptr<Entry> weakEntry = entry;
        return Subscription([weakObservers, weakEntry] {
            const auto entryNow = weakEntry.lock();
            if (entryNow) {
                entryNow->active = false;
            }
            if (const auto list = weakObservers.lock()) {
                std::erase(list->entries, entryNow);
            }
        });
    }

private:
    struct Entry {
        Observer observer;
        bool active;
    };
    struct Observers {
        std::vector<std::shared_ptr<Entry>> entries;
    };

    T value_{};
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
};

} // namespace quellora
