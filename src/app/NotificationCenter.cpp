#include "app/NotificationCenter.h"

#include <utility>

namespace zt {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(Observer observer, Callback callback, std::string name, Sender sender)
{
    registrations_.push_back(std::make_shared<Registration>(
        Registration{observer, std::move(callback), std::move(name), sender}));
}

void NotificationCenter::removeObserver(Observer observer)
{
    std::erase_if(registrations_, [observer](const std::shared_ptr<Registration>& r) {
        if (r->observer != observer)
            return false;
        r->removed = true;
        return true;
    });
}

void NotificationCenter::post(const std::string& name, Sender sender)
{
    // An observer may add or remove registrations while being called; work
    // on a snapshot and skip the ones removed meanwhile.
    const auto snapshot = registrations_;
    for (const auto& r : snapshot) {
        if (r->removed || r->name != name)
            continue;
        if (r->sender != nullptr && r->sender != sender)
            continue;
        r->callback();
    }
}

} // namespace zt
