#include "TestSupport.h"

#include "app/AppDelegate.h"
#include "app/FileManager.h"
#include "app/PropertyList.h"

#include <pwd.h>
#include <unistd.h>

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

QByteArray expectedEntry(const QByteArray& escapedBundlePath)
{
    return "[Desktop Entry]\nType=Application\nName=ZimTorva Companion\nExec=\"" + escapedBundlePath
         + "/Contents/MacOS/ZimtorvaCompanion\"\nX-GNOME-Autostart-enabled=true\n";
}

// Where one sandbox keeps the two files.
struct Places {
    explicit Places(const Sandbox& sandbox)
        : home(sandbox.home.path()), library(home + "/Library"), folder(library + "/LaunchAgents"),
          agent(folder + "/com.zimtorva.companion.plist"), autostart(sandbox.config + "/autostart"),
          entry(autostart + "/com.zimtorva.companion.desktop")
    {
    }
    QString home, library, folder, agent, autostart, entry;
};

// One switch by a freshly launched delegate; what it printed.
std::string toggle(const Bundle& bundle)
{
    testing::FakePlatform platform;
    FakeAppearance appearance;
    std::ostringstream out;
    AppDelegate delegate(platform, bundle, appearance, out);
    delegate.applicationDidFinishLaunching();
    delegate.toggleAutostart();
    EXPECT_EQ(delegate.startOnLoginMenuItem()->isChecked(), UserDefaults::standard().startOnLogin());
    return out.str();
}

// Hidden files left beside the two files: temporaries of a write.
QStringList leftovers(const Places& at)
{
    QStringList hidden;
    for (const QString& folder : {at.folder, at.autostart})
        hidden += QDir(folder).entryList({".*"}, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return hidden;
}

TEST(ToggleAutostartTest, OneSwitchFromEachStartingPoint)
{
    enum Thing { none, file, folderWithFile, link, danglingLink, hardLink };
    enum After { written, absent, kept };
    struct Case {
        const char* name;
        std::optional<bool> setting;
        std::string printed; // a regular expression
        bool settingAfter;
        After agentAfter, entryAfter;
        // What stands at each place before the switch.
        Thing agent = none, entry = none, folder = none, library = none, autostart = none;
    };
    const std::string added = "false\nadded\\?\\?\n", removed = "true\nremoved\\?\\?\n";
    const std::string notCreated = "false\nFailed to create launch agent: [^\n]+\n"; // the error's text, one line
    const Case cases[] = {
        {"first use makes the folders", std::nullopt, added, true, written, written},
        {"on replaces files from elsewhere", false, added, true, written, written, file, file},
        {"on replaces links, not what they point to", false, added, true, written, written, link, link},
        {"on replaces dangling links", false, added, true, written, written, danglingLink, danglingLink},
        {"on replaces hard-linked files whole", false, added, true, written, written, hardLink, hardLink},
        {"on, file as LaunchAgents folder", false, notCreated, false, absent, absent, none, none, file},
        {"on, folder as agent", false, notCreated, false, kept, absent, folderWithFile},
        {"on, file as autostart folder", false, notCreated, false, written, absent, none, none, none, none, file},
        {"on, folder as entry", false, notCreated, false, written, kept, none, folderWithFile},
        {"LaunchAgents folder cannot be made", true, "Failed to create LaunchAgents directory: [^\n]+\n", true, absent,
         kept, none, file, none, file},
        {"off removes both", true, removed, false, absent, absent, file, file},
        {"off removes the agent alone", true, removed, false, absent, absent, file},
        {"off removes the entry alone", true, removed, false, absent, absent, none, file},
        {"off with both deleted by hand", true, "true\n", false, absent, absent},
        {"off removes links, not what they point to", true, removed, false, absent, absent, link, danglingLink},
        {"off, file as LaunchAgents folder", true, "true\n", false, absent, absent, none, none, file},
        {"off, folder as agent", true, "true\nFailed to remove launch agent: [^\n]+\n", false, kept, absent,
         folderWithFile, file},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        const Places at(sandbox);
        QStringList others; // files that links point to: never to be written
        const auto place = [&](Thing thing, const QString& path) {
            const QString other = at.home + QString("/other-%1").arg(others.size());
            switch (thing) {
            case none: return;
            case file: return write(path, "a file");
            case folderWithFile: return write(path + "/inside", "a file");
            case danglingLink:
                QDir().mkpath(QFileInfo(path).path());
                ASSERT_TRUE(QFile::link(at.home + "/nowhere", path));
                return;
            case link:
            case hardLink:
                write(other, "a file");
                others << other;
                QDir().mkpath(QFileInfo(path).path());
                if (thing == link)
                    ASSERT_TRUE(QFile::link(other, path));
                else
                    ASSERT_EQ(::link(QFile::encodeName(other), QFile::encodeName(path)), 0);
            }
        };
        const auto isKept = [&](Thing thing, const QString& path) {
            return thing == folderWithFile ? contents(path + "/inside") == "a file"
                   : thing == link         ? QFileInfo(path).isSymLink()
                                           : contents(path) == "a file";
        };
        place(c.library, at.library);
        place(c.folder, at.folder);
        place(c.autostart, at.autostart);
        place(c.agent, at.agent);
        place(c.entry, at.entry);
        if (c.setting)
            UserDefaults::standard().setStartOnLogin(*c.setting);
        TemporaryBundle bundle;

        EXPECT_THAT(toggle(bundle.bundle()), ::testing::MatchesRegex(c.printed));
        EXPECT_EQ(UserDefaults::standard().startOnLogin(), c.settingAfter);
        const QByteArray bundlePath = QFile::encodeName(bundle.path());
        const std::tuple<Thing, After, QString, QByteArray> files[] = {
            {c.agent, c.agentAfter, at.agent, expectedAgent(bundlePath)},
            {c.entry, c.entryAfter, at.entry, expectedEntry(bundlePath)}};
        for (const auto& [thing, after, path, text] : files) {
            SCOPED_TRACE(path.toStdString());
            if (after == written) {
                EXPECT_FALSE(QFileInfo(path).isSymLink());
                EXPECT_EQ(contents(path), text);
            }
            EXPECT_EQ(FileManager::itemExists(path), after != absent);
            EXPECT_TRUE(after != kept || isKept(thing, path));
        }
        for (const auto& [thing, path] :
             {std::pair{c.library, at.library}, {c.folder, at.folder}, {c.autostart, at.autostart}})
            EXPECT_TRUE(thing == none || isKept(thing, path)) << path.toStdString();
        for (const QString& other : others)
            EXPECT_EQ(contents(other), "a file") << "written through a link";
        EXPECT_FALSE(QFile::exists(at.home + "/nowhere")) << "written through a dangling link";
        EXPECT_EQ(leftovers(at), QStringList());
    }
}

TEST(ToggleAutostartTest, BundlePathsAreWrittenFaithfullyOrRefused)
{
    struct Case {
        QByteArray folder; // the bundle folder's name, as bytes
        QByteArray inAgent, inEntry; // `folder` as each file spells it; empty: refused
        std::string refusal = {};
    };
    const Case cases[] = {
        {"ZimtorvaCompanion.app", "ZimtorvaCompanion.app", "ZimtorvaCompanion.app"},
        {"Tom & \"J\" <1> it's &amp; caf\xc3\xa9.app", "Tom &amp; \"J\" &lt;1&gt; it's &amp;amp; caf\xc3\xa9.app",
         "Tom & \\\\\"J\\\\\" <1> it's &amp; caf\xc3\xa9.app"},
        {"$HOME `id` 100% \\x.app", "$HOME `id` 100% \\x.app", "\\\\$HOME \\\\`id\\\\` 100%% \\\\\\\\x.app"},
        {"x</string><string>--evil", "x&lt;/string&gt;&lt;string&gt;--evil", "x</string><string>--evil"},
        {"a\nb.app", "", "", "the application's path holds the control character U+000A"},
        {"a\tb.app", "", "", "the application's path holds the control character U+0009"},
        {"a\x01.app", "", "", "the application's path holds the control character U+0001"},
        {"caf\xe9.app", "", "", "the application's path is not valid UTF-8"},
        {"a\xef\xbf\xbe.app", "", "", "the application's path holds U+FFFE, which XML does not allow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        Sandbox sandbox;
        const Places at(sandbox);
        const QTemporaryDir root;
        const QByteArray parent = QFile::encodeName(root.path()) + '/';
        const Bundle bundle = Bundle::fromNativePath(parent + c.folder);
        if (c.refusal.empty()) {
            EXPECT_EQ(toggle(bundle), "false\nadded??\n");
            EXPECT_EQ(contents(at.agent), expectedAgent(parent + c.inAgent));
            EXPECT_EQ(contents(at.entry), expectedEntry(parent + c.inEntry));
            // Read back as a property list, the agent names the program itself.
            const auto agent = PropertyList::parse(contents(at.agent));
            ASSERT_TRUE(agent);
            EXPECT_EQ(agent->toMap().value("ProgramArguments").toStringList(),
                      QStringList{QString::fromUtf8(parent + c.folder + "/Contents/MacOS/ZimtorvaCompanion")});
        } else {
            EXPECT_EQ(toggle(bundle), "false\nFailed to create launch agent: " + c.refusal + "\n");
            EXPECT_FALSE(UserDefaults::standard().startOnLogin());
            EXPECT_FALSE(FileManager::itemExists(at.agent));
            EXPECT_FALSE(FileManager::itemExists(at.autostart));
        }
        EXPECT_EQ(leftovers(at), QStringList());
    }
}

// systemd's ExecStart= split into words with the escapes it knows undone;
// one it does not know stays as written, as systemd leaves it.
QStringList execStart(const QByteArray& unit)
{
    for (const QByteArray& line : unit.split('\n')) {
        if (!line.startsWith("ExecStart="))
            continue;
        QString value = QString::fromUtf8(line.mid(10));
        while (!value.isEmpty() && QStringLiteral(":-@+!").contains(value[0]))
            value.remove(0, 1);
        QStringList words{QString()};
        bool quoted = false;
        for (qsizetype i = 0; i < value.size(); ++i) {
            const QChar c = value[i];
            if (c == u'\\' && i + 1 < value.size() && QStringLiteral("\"\\'").contains(value[i + 1]))
                words.last() += value[++i];
            else if (c == u'"')
                quoted = !quoted;
            else if (c == u' ' && !quoted)
                words << QString();
            else
                words.last() += c;
        }
        return words;
    }
    return {};
}

QString run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
            int* exitCode = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(30000)) << program.toStdString();
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

// The unit systemd's own generator makes of the autostart entries of the
// current home and configuration folder; empty when it makes none.
QByteArray generatedUnit(const QString& scratch)
{
    const QString units = scratch + "/units", noSystemEntries = scratch + "/none";
    QDir(units).removeRecursively();
    QDir().mkpath(units);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_DIRS", noSystemEntries); // not the machine's own entries
    environment.insert("SYSTEMD_LOG_TARGET", "console");
    int exitCode = -1;
    const QString log = run("/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator",
                            {units, units, units}, environment, &exitCode);
    EXPECT_EQ(exitCode, 0) << log.toStdString();
    const QString unit = units + "/app-com.zimtorva.companion@autostart.service";
    return QFile::exists(unit) ? contents(unit) : QByteArray();
}

// Each launcher of Debian's desktops that reads the entry starts the bundle's
// program from it, by its very path, as far as that launcher can.
TEST(ToggleAutostartTest, LaunchersStartTheProgramTheEntryNames)
{
    struct Case {
        QString folder;
        bool generatorReads; // systemd's generator turns the entry into a unit that names the program
        bool systemdRuns;    // and systemd accepts that unit
        bool glibRuns;       // GLib's launcher (XFCE, MATE, Cinnamon, LXDE) starts the program
    };
    // systemd 252 refuses a program path holding quotes or a backslash, and
    // the generator passes on the \$ and \` of the entry, which systemd does
    // not unescape. Both it and GLib look the program up with its %% still
    // doubled, so no launcher here starts a path holding %: the entry's
    // bytes for it are pinned above.
    const Case cases[] = {
        {"ZimtorvaCompanion.app", true, true, true},
        {QString::fromUtf8("Zimt\xc3\xb6rva Companion (copy) & co; #2 <beta> ~.app"), true, true, true},
        {"it's \"quoted\".app", true, false, true},
        {"$HOME `id` \\back.app", false, false, true},
    };
    for (const bool configHomeSet : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.folder.toStdString() + (configHomeSet ? "" : ", XDG_CONFIG_HOME unset"));
            Sandbox sandbox;
            if (!configHomeSet)
                qunsetenv("XDG_CONFIG_HOME");
            const QString entry = (configHomeSet ? sandbox.config : sandbox.home.path() + "/.config")
                                + "/autostart/com.zimtorva.companion.desktop";
            const QString scratch = sandbox.home.path() + "/scratch", record = scratch + "/started-as";
            QDir().mkpath(scratch);
            TemporaryBundle bundle(c.folder);
            bundle.addProgram(record);
            const QString program = bundle.path() + "/Contents/MacOS/ZimtorvaCompanion";

            ASSERT_EQ(toggle(bundle.bundle()), "false\nadded??\n");
            ASSERT_TRUE(QFile::exists(entry));
            const QByteArray unit = generatedUnit(scratch);
            if (c.generatorReads) {
                EXPECT_EQ(execStart(unit), QStringList{program}) << unit.toStdString();
            }
            if (c.systemdRuns) {
                QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                environment.insert("XDG_RUNTIME_DIR", scratch);
                const QString unitFile = scratch + "/units/app-com.zimtorva.companion@autostart.service";
                int exitCode = -1;
                const QString said =
                    run("systemd-analyze", {"--user", "verify", "--man=no", unitFile}, environment, &exitCode);
                EXPECT_EQ(exitCode, 0) << said.toStdString();
            }
            if (c.glibRuns) {
                QFile::remove(record);
                int exitCode = -1;
                const QString said = run("gio", {"launch", entry}, QProcessEnvironment::systemEnvironment(), &exitCode);
                EXPECT_EQ(exitCode, 0) << said.toStdString();
                EXPECT_TRUE(QTest::qWaitFor([&] { return contents(record) == program.toUtf8(); }, 10000))
                    << contents(record).toStdString();
            }

            ASSERT_EQ(toggle(bundle.bundle()), "true\nremoved??\n");
            EXPECT_EQ(generatedUnit(scratch), QByteArray());
        }
    }
}

TEST(FileManagerTest, HomeAndConfigurationFoldersAreAbsolute)
{
    const passwd* account = getpwuid(getuid());
    ASSERT_TRUE(account && account->pw_dir);
    const QString accountHome = QFile::decodeName(account->pw_dir);
    const Sandbox sandbox; // restores both variables
    // nullptr: unset.
    const std::pair<const char*, QString> homes[] = {
        {nullptr, accountHome}, {"", accountHome}, {"relative/home", accountHome}, {"/some/home", "/some/home"}};
    for (const auto& [value, expected] : homes) {
        value ? qputenv("HOME", value) : qunsetenv("HOME");
        EXPECT_EQ(FileManager::homeDirectory(), expected) << (value ? value : "unset");
    }
    const std::pair<const char*, QString> configs[] = {
        {nullptr, "/h/.config"}, {"", "/h/.config"}, {"relative", "/h/.config"}, {"/c", "/c"}};
    for (const auto& [value, expected] : configs) {
        value ? qputenv("XDG_CONFIG_HOME", value) : qunsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(FileManager::configDirectory("/h"), expected) << (value ? value : "unset");
    }
}

} // namespace
} // namespace zt::apptest
