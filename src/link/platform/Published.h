#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace zt {

// Ends a subscription when destroyed (or on cancel()). Safe to outlive the
// publisher it came from.
class Cancellable {
public:
    Cancellable() = default;
    explicit Cancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Cancellable(Cancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Cancellable& operator=(Cancellable&& other) noexcept
    {
        if (this != &other) {
            cancel();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;
    ~Cancellable() { cancel(); }

    void cancel()
    {
        if (auto c = std::exchange(cancel_, nullptr))
            c();
    }

private:
    std::function<void()> cancel_;
};

// A stored value whose every assignment, also of the value already held,
// reaches every subscriber; a new subscriber gets the current value at once.
template <typename T>
class Published {
public:
    using Subscriber = std::function<void(const T&)>;

    explicit Published(T initial) : value_(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;
    ~Published()
    {
        for (auto& s : state_->subscribers)
            s->active = false;
    }

    const T& get() const { return value_; }
    operator const T&() const { return value_; }

    Published& operator=(T value)
    {
        value_ = std::move(value);
        // A subscriber may subscribe or cancel while being told; work on a
        // snapshot and skip the ones cancelled meanwhile.
        auto snapshot = state_->subscribers;
        const T delivered = value_;
        for (auto& s : snapshot)
            if (s->active)
                s->callback(delivered);
        return *this;
    }

    [[nodiscard]] Cancellable sink(Subscriber callback)
    {
        auto entry = std::make_shared<Entry>(Entry{std::move(callback), true});
        state_->subscribers.push_back(entry);
        std::weak_ptr<State> weakState = state_;
        std::weak_ptr<Entry> weakEntry = entry;
        Cancellable handle([weakState, weakEntry] {
            auto e = weakEntry.lock();
            if (!e)
                return;
            e->active = false;
            if (auto s = weakState.lock())
                std::erase(s->subscribers, e);
        });
        const T current = value_;
        entry->callback(current);
        return handle;
    }

private:
    struct Entry {
        Subscriber callback;
        bool active;
    };
    struct State {
        std::vector<std::shared_ptr<Entry>> subscribers;
    };

    T value_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace zt
