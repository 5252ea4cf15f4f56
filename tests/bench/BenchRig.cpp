#include "bench/BenchRig.h"

#include "integration/WaitUntil.h"
#include "support/ApplicationEnvironment.h"

#include <QDBusPendingCall>

#include <algorithm>
#include <stdexcept>

namespace zt::test {
namespace {

using namespace std::chrono_literals;

const std::string poweredOnLine = "Bluetooth is powered on and ready to go!";

} // namespace

BenchRig::BenchRig(std::string applicationPath)
    : applicationPath_(std::move(applicationPath)), bluez_(QString::fromStdString(systemBus_.address())),
      tray_(QString::fromStdString(sessionBus_.address()))
{
    if (!home_.isValid())
        throw std::runtime_error("no temporary home");
    if (!bluez_.start())
        throw std::runtime_error("the daemon double cannot take org.bluez");
    if (!tray_.start())
        throw std::runtime_error("the tray host cannot take org.kde.StatusNotifierWatcher");
    QObject::connect(&motion_, &QSocketNotifier::activated, [this] { pointer_.read(); });
    QObject::connect(&output_, &QTimer::timeout, [this] {
        if (application_)
            application_->lines();
    });
    output_.start(20);
}

BenchRig::~BenchRig() { stopApplication(); }

void BenchRig::startApplication()
{
    stopApplication();
    application_ = std::make_unique<ChildProcess>(
        "application", std::vector<std::string>{applicationPath_},
        applicationEnvironment({xvfb_.displayName(), systemBus_.address(), sessionBus_.address(),
                                home_.path().toStdString()}));
    pid_ = application_->pid();
    const auto started = [&] {
        const std::vector<std::string>& lines = application_->lines();
        return (std::ranges::find(lines, poweredOnLine) != lines.end() && bluez_.applications().size() == 1 &&
                !tray_.itemOwner().isEmpty()) ||
               !application_->running();
    };
    if (!waitUntil(started, 20s) || !application_->running())
        throw std::runtime_error("the application did not come up with its link and tray icon:\n" +
                                 application_->diagnostics());

    const FakeBluez::Application& registered = bluez_.applications().front();
    const auto writable = std::ranges::find_if(registered.characteristics, [](const FakeBluez::Characteristic& c) {
        return c.flags.contains(QStringLiteral("write-without-response"));
    });
    if (writable == registered.characteristics.end())
        throw std::runtime_error("the application registered no characteristic written without response");
    writer_.emplace(bluez_.connection(), registered.sender, writable->path);

    QDBusPendingCall menu = tray_.connection().asyncCall(tray_.menuCall());
    if (!waitUntil([&] { return menu.isFinished(); }, 20s) || menu.isError())
        throw std::runtime_error("the tray icon's menu does not answer: " + menu.error().message().toStdString());
}

void BenchRig::stopApplication()
{
    writer_.reset();
    application_.reset();
    pid_ = -1;
    tray_.forget();
    // The daemon double drops the registrations of a client that left.
    waitUntil([&] { return bluez_.applications().isEmpty(); }, 5s);
}

} // namespace zt::test
