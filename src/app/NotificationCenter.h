#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zt {

// A process-wide broadcast of named notifications, delivered synchronously
// on the posting thread (always the main thread here).
class NotificationCenter {
public:
    using Observer = const void*;
    using Sender = const void*;
    using Callback = std::function<void()>;

    static NotificationCenter& defaultCenter();

    // A null `sender` observes postings from any sender.
    void addObserver(Observer observer, Callback callback, std::string name, Sender sender = nullptr);
    // Ends every registration of `observer`.
    void removeObserver(Observer observer);
    void post(const std::string& name, Sender sender = nullptr);

private:
    struct Registration {
        Observer observer;
        Callback callback;
        std::string name;
        Sender sender;
        bool removed = false;
    };
    std::vector<std::shared_ptr<Registration>> registrations_;
};

} // namespace zt
