#include "TestSupport.h"

#include "app/AppDelegate.h"
#include "app/PropertyList.h"
#include "link/testing/FakePlatform.h"

#include <QAction>

#include <gtest/gtest.h>

#include <sstream>

namespace zt::apptest {
namespace {

QByteArray expectedAgent(const QByteArray& escapedBundlePath)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "    <key>Label</key>\n    <string>com.zimtorva.companion</string>\n"
           "    <key>ProgramArguments</key>\n    <array>\n        <string>"
        + escapedBundlePath
        + "/Contents/MacOS/ZimtorvaCompanion</string>\n    </array>\n"
          "    <key>RunAtLoad</key>\n    <true/>\n</dict>\n</plist>";
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

enum class Place { nothing, agentFile, plainFileAsFolder, libraryIsFile, folderAsAgent };

struct Case {
    const char* name;
    std::optional<bool> setting;
    Place place;
    std::string printed; // "*" stands for the error's text
    bool settingAfter;
    QByteArray agentAfter; // "=": the agent for this bundle
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class ToggleAutostart : public ::testing::TestWithParam<Case> {
protected:
    Sandbox sandbox;
    testing::FakePlatform platform;
    FakeAppearance appearance;
    std::ostringstream out;
};

TEST_P(ToggleAutostart, OneSwitch)
{
    const Case& c = GetParam();
    const QString folder = sandbox.home() + "/Library/LaunchAgents";
    const QString agent = folder + "/com.zimtorva.companion.plist";
    if (c.setting)
        UserDefaults::standard().setStartOnLogin(*c.setting);
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    if (c.place == Place::agentFile)
        write(agent, "from elsewhere");
    if (c.place == Place::plainFileAsFolder)
        write(folder, "a file");
    if (c.place == Place::libraryIsFile)
        write(sandbox.home() + "/Library", "a file");
    if (c.place == Place::folderAsAgent)
        QDir().mkpath(agent + "/inside");

    TemporaryBundle bundle;
    AppDelegate delegate(platform, bundle.bundle(), appearance, out);
    delegate.applicationDidFinishLaunching();
    const bool itemBefore = delegate.startOnLoginMenuItem()->isChecked();
    delegate.toggleAutostart();

    const std::string printed = out.str();
    const auto star = c.printed.find('*');
    if (star == std::string::npos) {
        EXPECT_EQ(printed, c.printed);
    } else {
        EXPECT_EQ(printed.substr(0, star), c.printed.substr(0, star));
        EXPECT_GT(printed.size(), star + 1) << "no error text";
        EXPECT_EQ(printed.back(), '\n');
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), std::count(c.printed.begin(), c.printed.end(), '\n'));
    }
    EXPECT_EQ(UserDefaults::standard().startOnLogin(), c.settingAfter);
    const bool untouched = c.place == Place::libraryIsFile;
    EXPECT_EQ(delegate.startOnLoginMenuItem()->isChecked(), untouched ? itemBefore : c.settingAfter);
    const QByteArray expected = c.agentAfter == "=" ? expectedAgent(bundle.path().toUtf8()) : c.agentAfter;
    if (c.place == Place::plainFileAsFolder) {
        EXPECT_EQ(contents(folder), "a file");
    } else if (c.place == Place::folderAsAgent) {
        EXPECT_TRUE(QFileInfo(agent + "/inside").isDir());
    } else {
        EXPECT_EQ(contents(agent), expected);
    }
    if (QFileInfo(folder).isDir()) { // no temporary file left beside the agent
        EXPECT_LE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    , ToggleAutostart,
    ::testing::Values(
        Case{"FirstUseMakesTheFolder", std::nullopt, Place::nothing, "false\nadded??\n", true, "="},
        Case{"OnReplacesAFileFromElsewhere", false, Place::agentFile, "false\nadded??\n", true, "="},
        Case{"OffRemovesTheFile", true, Place::agentFile, "true\nremoved??\n", false, "<absent>"},
        Case{"OffWithoutAFile", true, Place::nothing, "true\n", false, "<absent>"},
        Case{"OnWithAPlainFileAsFolder", false, Place::plainFileAsFolder, "false\nFailed to create launch agent: *\n",
             false, ""},
        Case{"OffWithAPlainFileAsFolder", true, Place::plainFileAsFolder, "true\n", false, ""},
        Case{"FolderCannotBeMade", true, Place::libraryIsFile, "Failed to create LaunchAgents directory: *\n", true,
             "<absent>"},
        Case{"OnWhereAFolderHoldsTheAgentName", false, Place::folderAsAgent,
             "false\nFailed to create launch agent: *\n", false, ""},
        Case{"OffCannotRemoveAFolderInTheAgentsPlace", true, Place::folderAsAgent,
             "true\nFailed to remove launch agent: *\n", false, ""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ToggleAutostartPath, HostileBundlePathStaysOneWellFormedArgument)
{
    const struct {
        QString folder;
        QByteArray escaped;
    } cases[] = {
        {"Tom & Jerry <1>.app", "Tom &amp; Jerry &lt;1&gt;.app"},
        {"say \"hi\" it's\ntwo lines.app", "say \"hi\" it's\ntwo lines.app"},
        {"x</string><string>--evil", "x&lt;/string&gt;&lt;string&gt;--evil"},
        {"&amp; caf\u00e9.app", "&amp;amp; caf\xc3\xa9.app"},
    };
    testing::FakePlatform platform;
    FakeAppearance appearance;
    for (const auto& c : cases) {
        Sandbox sandbox;
        TemporaryBundle hostile(c.folder);
        std::ostringstream out;
        AppDelegate delegate(platform, hostile.bundle(), appearance, out);
        delegate.applicationDidFinishLaunching();
        delegate.toggleAutostart();
        EXPECT_EQ(out.str(), "false\nadded??\n");
        const QByteArray written = contents(sandbox.home() + "/Library/LaunchAgents/com.zimtorva.companion.plist");
        EXPECT_EQ(written, expectedAgent(hostile.path().chopped(c.folder.size()).toUtf8() + c.escaped));
        const auto plist = PropertyList::parse(written);
        ASSERT_TRUE(plist) << c.folder.toStdString();
        EXPECT_EQ(plist->toMap().value("ProgramArguments").toList(),
                  QVariantList{hostile.path() + "/Contents/MacOS/ZimtorvaCompanion"});
    }
}

} // namespace
} // namespace zt::apptest
