#pragma once

#include <functional>
#include <memory>

namespace zt {

class AppDelegate;
class Appearance;
class Bundle;
class Platform;

// The application value: makes the one AppDelegate. main() is the whole of
// the process's work.
class ZimtorvaCompanionApp {
public:
    using PlatformFactory = std::function<std::unique_ptr<Platform>()>;

    ZimtorvaCompanionApp(Platform& platform, const Bundle& bundle, Appearance& appearance);
    ~ZimtorvaCompanionApp();
    ZimtorvaCompanionApp(const ZimtorvaCompanionApp&) = delete;
    ZimtorvaCompanionApp& operator=(const ZimtorvaCompanionApp&) = delete;

    AppDelegate& appDelegate() { return *appDelegate_; }

    // Starts the GUI application (no window at launch, staying up when the
    // About window closes), makes the platform with `makePlatform` once Qt
    // is up, runs the event loop, and returns 0 once it ends.
    static int main(int& argc, char** argv, const PlatformFactory& makePlatform);

private:
    std::unique_ptr<AppDelegate> appDelegate_;
};

} // namespace zt
