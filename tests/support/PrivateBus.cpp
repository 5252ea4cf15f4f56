#include "support/PrivateBus.h"

#include "support/ChildProcess.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace zt::test {

PrivateBus::PrivateBus()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string directory = std::string(tmp && *tmp ? tmp : "/tmp") + "/zt-bus-XXXXXX";
    if (!mkdtemp(directory.data()))
        throw std::runtime_error("PrivateBus: cannot create a directory");
    directory_ = directory;
    std::ofstream(directory_ + "/bus.conf")
        << "<busconfig><type>session</type><listen>unix:dir=" << directory_ << "</listen><auth>EXTERNAL</auth>"
        << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        << "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    daemon_ = std::make_unique<ChildProcess>(
        "dbus-daemon",
        std::vector<std::string>{"dbus-daemon", "--config-file=" + directory_ + "/bus.conf", "--nofork", "--print-address"});
    address_ = daemon_->waitForLine(0, std::chrono::seconds(20)).value_or("");
    if (address_.empty()) {
        const std::string why = daemon_->diagnostics();
        daemon_.reset();
        std::filesystem::remove_all(directory_);
        throw std::runtime_error("PrivateBus: dbus-daemon did not start: " + why);
    }
}

PrivateBus::~PrivateBus()
{
    daemon_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

} // namespace zt::test
