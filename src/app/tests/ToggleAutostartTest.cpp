#include "TestSupport.h"

#include "app/AppDelegate.h"

namespace zt::apptest {
namespace {

QByteArray expectedAgent(const QByteArray& escapedBundlePath)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n"
           "    <key>Label</key>\n    <string>com.zimtorva.companion</string>\n    <key>ProgramArguments</key>\n"
           "    <array>\n        <string>" + escapedBundlePath + "/Contents/MacOS/ZimtorvaCompanion</string>\n"
           "    </array>\n    <key>RunAtLoad</key>\n    <true/>\n</dict>\n</plist>";
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

TEST(ToggleAutostartTest, OneSwitchFromEachStartingPoint)
{
    enum Place { nothing, agentFile, fileAsFolder, fileAsLibrary, folderAsAgent };
    struct Case {
        const char* name;
        std::optional<bool> setting;
        Place place;
        std::string printed; // a regular expression
        bool settingAfter;
        QByteArray agentAfter; // "=": the agent for this bundle; empty: not looked at
        QString folder = "ZimtorvaCompanion.app";
        QByteArray escaped = "ZimtorvaCompanion.app"; // `folder` as the agent spells it
    };
    const std::string added = "false\nadded\\?\\?\n", error = "[^\n]+\n"; // the error's text, one line
    const Case cases[] = {
        {"first use makes the folder", std::nullopt, nothing, added, true, "="},
        {"on replaces a file from elsewhere", false, agentFile, added, true, "="},
        {"off removes the file", true, agentFile, "true\nremoved\\?\\?\n", false, "<absent>"},
        {"off with the file deleted by hand", true, nothing, "true\n", false, "<absent>"},
        {"on, file as folder", false, fileAsFolder, "false\nFailed to create launch agent: " + error, false, "<absent>"},
        {"off, file as folder", true, fileAsFolder, "true\n", false, "<absent>"},
        {"folder cannot be made", true, fileAsLibrary, "Failed to create LaunchAgents directory: " + error, true,
         "<absent>"},
        {"on, folder as agent", false, folderAsAgent, "false\nFailed to create launch agent: " + error, false, ""},
        {"off, folder as agent", true, folderAsAgent, "true\nFailed to remove launch agent: " + error, false, ""},
        // Hostile bundle paths stay one well-formed argument.
        {"markup, quotes, newline, entity, non-ASCII", std::nullopt, nothing, added, true, "=",
         "Tom & \"J\" <1>\nit's &amp; caf\u00e9.app", "Tom &amp; \"J\" &lt;1&gt;\nit's &amp;amp; caf\xc3\xa9.app"},
        {"element injection", std::nullopt, nothing, added, true, "=", "x</string><string>--evil",
         "x&lt;/string&gt;&lt;string&gt;--evil"},
    };
    testing::FakePlatform platform;
    FakeAppearance appearance;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        const QString library = sandbox.home.path() + "/Library", folder = library + "/LaunchAgents";
        const QString agent = folder + "/com.zimtorva.companion.plist";
        const QString occupied[] = {QString(), agent, folder, library, agent + "/inside"};
        if (c.setting)
            UserDefaults::standard().setStartOnLogin(*c.setting);
        if (c.place != nothing)
            write(occupied[c.place], "a file");
        TemporaryBundle bundle(c.folder);
        std::ostringstream out;
        AppDelegate delegate(platform, bundle.bundle(), appearance, out);
        delegate.applicationDidFinishLaunching();
        delegate.toggleAutostart();

        EXPECT_THAT(out.str(), ::testing::MatchesRegex(c.printed));
        EXPECT_EQ(UserDefaults::standard().startOnLogin(), c.settingAfter);
        EXPECT_EQ(delegate.startOnLoginMenuItem()->isChecked(), c.settingAfter);
        EXPECT_EQ(c.place > agentFile ? contents(occupied[c.place]) : "a file", "a file"); // left in place
        if (!c.agentAfter.isEmpty()) {
            const QByteArray parent = bundle.path().chopped(c.folder.size()).toUtf8();
            EXPECT_EQ(contents(agent), c.agentAfter == "=" ? expectedAgent(parent + c.escaped) : c.agentAfter);
        }
        // No temporary file left beside the agent.
        EXPECT_LE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1);
    }
}

} // namespace
} // namespace zt::apptest
