#include "backends/x11/X11PointerEvents.h"

#include "support/DefaultSigpipe.h"
#include "support/RestartableXvfb.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

// After gtest: X defines macros such as None that gtest uses as names.
#include <X11/Xlib.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zt {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

using Whole = std::pair<int, int>;

// A second, independent client of the same server: it reads the real
// pointer, puts it somewhere, and records what a window covering the whole
// screen is told. The pointer under test does not wait for the server, so
// what it posted is seen here once it has read the location again: the
// server takes its requests in order.
class Observer {
public:
    explicit Observer(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str()))
    {
        if (!display_)
            throw std::runtime_error("observer cannot open " + displayName);
    }
    ~Observer() { XCloseDisplay(display_); }
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;

    Whole pointer() const { return query().first; }
    bool leftButtonDown() const { return (query().second & Button1Mask) != 0; }

    void warp(int x, int y)
    {
        XWarpPointer(display_, 0, DefaultRootWindow(display_), 0, 0, 0, 0, x, y);
        XSync(display_, False);
    }

    void watchButtonsAndMotion()
    {
        Window w = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1280, 800, 0, 0, 0);
        XSelectInput(display_, w, ButtonPressMask | ButtonReleaseMask | PointerMotionMask);
        XMapRaised(display_, w);
        XSync(display_, False);
        events();
    }

    // Everything delivered so far, as "kind x,y".
    std::vector<std::string> events()
    {
        XSync(display_, False);
        std::vector<std::string> seen;
        while (XPending(display_) > 0) {
            XEvent e;
            XNextEvent(display_, &e);
            char line[64];
            if (e.type == MotionNotify)
                std::snprintf(line, sizeof line, "motion %d,%d", e.xmotion.x_root, e.xmotion.y_root);
            else // the window asked for nothing but buttons and motion
                std::snprintf(line, sizeof line, "%s %u %d,%d", e.type == ButtonPress ? "press" : "release",
                              e.xbutton.button, e.xbutton.x_root, e.xbutton.y_root);
            seen.emplace_back(line);
        }
        return seen;
    }

private:
    std::pair<Whole, unsigned> query() const
    {
        Window root = 0, child = 0;
        int x = 0, y = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &x, &y, &wx, &wy, &mask);
        return {{x, y}, mask};
    }

    Display* display_;
};

class OnXvfb : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<test::XvfbServer>(); }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override { observer_.warp(640, 400); }

    static std::unique_ptr<test::XvfbServer> server_;
    X11PointerEvents pointer_{server_->displayName()};
    Observer observer_{server_->displayName()};
};

std::unique_ptr<test::XvfbServer> OnXvfb::server_;

struct PlacementCase {
    std::string name;
    Point target;
    Whole real;     // where the server puts the pointer (screen 1280x800)
    Point reported; // what currentLocation() says afterwards
    MouseEventType type = MouseEventType::mouseMoved;
};

void PrintTo(const PlacementCase& c, std::ostream* out) { *out << c.name; }

class Placement : public OnXvfb, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(Placement, PutsThePointerAtTheTargetWithinWhatXCanCarry)
{
    const PlacementCase& c = GetParam();
    ASSERT_TRUE(pointer_.postMouseEvent(MouseEventType::mouseMoved, {300.25, 400.75}));
    ASSERT_TRUE(pointer_.postMouseEvent(c.type, c.target));
    EXPECT_EQ(pointer_.currentLocation(), c.reported);
    EXPECT_EQ(observer_.pointer(), c.real);
    EXPECT_EQ(observer_.leftButtonDown(), c.type == MouseEventType::leftMouseDown);
    pointer_.postMouseEvent(MouseEventType::leftMouseUp, {300, 400});
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Placement,
    ::testing::Values(
        PlacementCase{"FractionsRoundToNearest", {640.4, 400.6}, {640, 401}, {640.4, 400.6}},
        PlacementCase{"SlightlyNegativeRoundsToZero", {-0.4, 10.5}, {0, 11}, {-0.4, 10.5}},
        // Beyond the screen the server holds the pointer at the edge; the
        // real position, not the target, is reported from then on.
        PlacementCase{"PastTheScreenEdges", {5000, -5000}, {1279, 0}, {1279, 0}},
        // Past 16 bits the number would wrap to the other side.
        PlacementCase{"Beyond32767", {40000, 100}, {1279, 100}, {1279, 100}},
        PlacementCase{"WrapsExactlyOntoTheScreen", {65536 + 100, 65536 + 100}, {1279, 799}, {1279, 799}},
        PlacementCase{"Below32768", {-40000, 100}, {0, 100}, {0, 100}},
        PlacementCase{"RoundingWouldPass32767", {100, 32767.6}, {100, 799}, {100, 799}},
        PlacementCase{"Enormous", {1e300, -1e300}, {1279, 0}, {1279, 0}},
        // An axis without a number stays where the pointer is.
        PlacementCase{"NaNX", {nan, 500}, {300, 500}, {300.25, 500}},
        PlacementCase{"NaNY", {700.5, nan}, {701, 401}, {700.5, 400.75}},
        PlacementCase{"Infinities", {inf, -inf}, {300, 401}, {300.25, 400.75}},
        PlacementCase{"ClickAtNaN", {nan, nan}, {300, 401}, {300.25, 400.75}, MouseEventType::leftMouseDown}),
    [](const auto& info) { return info.param.name; });

struct AccumulationCase {
    std::string name;
    Point start;
    Point step;
    int moves;
    Whole end;
};

void PrintTo(const AccumulationCase& c, std::ostream* out) { *out << c.name; }

class Accumulation : public OnXvfb, public ::testing::WithParamInterface<AccumulationCase> {};

TEST_P(Accumulation, FractionsOfSuccessiveMovesAddUp)
{
    const AccumulationCase& c = GetParam();
    ASSERT_TRUE(pointer_.postMouseEvent(MouseEventType::mouseMoved, c.start));
    for (int i = 0; i < c.moves; ++i) {
        const auto here = pointer_.currentLocation();
        ASSERT_TRUE(here);
        ASSERT_TRUE(pointer_.postMouseEvent(MouseEventType::mouseMoved, {here->x + c.step.x, here->y + c.step.y}));
    }
    pointer_.currentLocation();
    EXPECT_EQ(observer_.pointer(), c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Accumulation,
    ::testing::Values(AccumulationCase{"ThreeTenths", {100, 100}, {0.3, -0.3}, 10, {103, 97}},
                      AccumulationCase{"SmallSteps", {100, 100}, {0.1, 0.05}, 20, {102, 101}},
                      AccumulationCase{"NearHalves", {100, 100}, {-0.45, 0.45}, 4, {98, 102}},
                      // Pushed against an edge (screen 1280x800), the server
                      // holds one axis; the other keeps its fraction.
                      AccumulationCase{"AlongTheLeftEdge", {0, 100}, {-0.3, 0.3}, 20, {0, 106}},
                      AccumulationCase{"AlongTheTopEdge", {100, 0}, {0.3, -0.3}, 20, {106, 0}},
                      AccumulationCase{"AlongTheRightEdge", {1279, 100}, {0.3, -0.3}, 20, {1279, 94}},
                      AccumulationCase{"AlongTheBottomEdge", {100, 799}, {-0.3, 0.3}, 20, {94, 799}}),
    [](const auto& info) { return info.param.name; });

TEST_F(OnXvfb, ClickReachesTheServerAsMotionThenButton)
{
    observer_.watchButtonsAndMotion();
    const std::vector<std::pair<MouseEventType, Point>> posts{
        {MouseEventType::leftMouseDown, {200, 300}},
        {MouseEventType::leftMouseUp, {210, 300}},
        {MouseEventType::mouseMoved, {220, 300}},
    };
    std::vector<bool> buttonDownAfter;
    for (const auto& [type, at] : posts) {
        ASSERT_TRUE(pointer_.postMouseEvent(type, at));
        pointer_.currentLocation();
        buttonDownAfter.push_back(observer_.leftButtonDown());
    }
    EXPECT_EQ(observer_.events(), (std::vector<std::string>{"motion 200,300", "press 1 200,300", "motion 210,300",
                                                            "release 1 210,300", "motion 220,300"}));
    EXPECT_EQ(buttonDownAfter, (std::vector<bool>{true, false, false}));
}

void expectNothingPosted(X11PointerEvents& pointer)
{
    for (const auto type : {MouseEventType::mouseMoved, MouseEventType::leftMouseDown, MouseEventType::leftMouseUp})
        EXPECT_FALSE(pointer.postMouseEvent(type, {10, 10}));
}

// An X server that refuses every client: it wants a cookie nobody has.
std::string writeAuthorityFile()
{
    char path[] = "/tmp/zt-x11-auth-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    const auto field = [](std::string s) { return std::string{char(s.size() >> 8), char(s.size() & 0xff)} + s; };
    std::string entry{char(1), char(0)}; // FamilyLocal
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    entry += field(host) + field("0") + field("MIT-MAGIC-COOKIE-1") + field(std::string(16, '\x5a'));
    std::ofstream(path, std::ios::binary) << entry;
    return path;
}

TEST(X11PointerEventsWithoutDisplay, FindsNoLocationPostsNothingAndPrintsNothing)
{
    const std::string authority = writeAuthorityFile();
    test::XvfbServer refusing({"-auth", authority});
    setenv("XAUTHORITY", "/nonexistent/zt-x11-authority", 1);

    const std::vector<std::pair<std::string, std::optional<std::string>>> displays{
        {"DISPLAY unset", std::nullopt},
        {"empty name", std::string()},
        {"nobody listening", std::string(":4999")},
        {"server refuses", refusing.displayName()},
    };
    for (const auto& [what, name] : displays) {
        SCOPED_TRACE(what);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        X11PointerEvents pointer(name);
        const std::optional<Point> location = pointer.currentLocation();
        EXPECT_EQ(::testing::internal::GetCapturedStderr() + ::testing::internal::GetCapturedStdout(), "");
        EXPECT_FALSE(location);
        expectNothingPosted(pointer);
    }
    unsetenv("XAUTHORITY");
    unlink(authority.c_str());
}

TEST(X11PointerEventsWithoutXTest, LocatesThePointerButPostsNothing)
{
    test::XvfbServer server({"-tst"});
    X11PointerEvents pointer(server.displayName());
    Observer observer(server.displayName());
    observer.warp(123, 456);
    EXPECT_EQ(pointer.currentLocation(), (Point{123, 456}));
    expectNothingPosted(pointer);
    EXPECT_EQ(observer.pointer(), (Whole{123, 456}));
}

struct LossCase {
    std::string name;
    std::chrono::milliseconds reconnectInterval;
    bool backOnNextMove;
};

void PrintTo(const LossCase& c, std::ostream* out) { *out << c.name; }

class ServerLoss : public ::testing::TestWithParam<LossCase> {};

// The server ends under a pointer that has been moving, and another starts
// on the same display: the pointer neither ends the process (Xlib would, and
// a write to the closed connection raises SIGPIPE) nor prints, posts nothing
// while the server is gone, and moves again on the new server once the
// reconnect interval allows.
TEST_P(ServerLoss, MovesAreAbsorbedQuietlyUntilAServerIsBack)
{
    const LossCase& c = GetParam();
    test::RestartableXvfb server;
    const std::string name = server.displayName();
    X11PointerEvents pointer(name, c.reconnectInterval);
    ASSERT_TRUE(pointer.postMouseEvent(MouseEventType::mouseMoved, {10.5, 10}));
    ASSERT_TRUE(pointer.currentLocation());

    server.stop();
    const test::DefaultSigpipe sigpipe;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) {
        expectNothingPosted(pointer);
        EXPECT_FALSE(pointer.currentLocation());
    }
    server.start();
    Observer observer(name);
    observer.warp(500, 500);
    const std::optional<Point> location = pointer.currentLocation();
    const bool posted = pointer.postMouseEvent(MouseEventType::mouseMoved, {321.5, 123});
    pointer.currentLocation();
    EXPECT_EQ(::testing::internal::GetCapturedStderr() + ::testing::internal::GetCapturedStdout(), "");

    if (c.backOnNextMove) {
        // Nothing of the old server's placement carries over.
        EXPECT_EQ(location, (Point{500, 500}));
        EXPECT_TRUE(posted);
        EXPECT_EQ(observer.pointer(), (Whole{322, 123}));
    } else {
        EXPECT_FALSE(location);
        EXPECT_FALSE(posted);
        EXPECT_EQ(observer.pointer(), (Whole{500, 500}));
    }
}

INSTANTIATE_TEST_SUITE_P(Reconnect, ServerLoss,
                         ::testing::Values(LossCase{"TriedOnEveryMove", std::chrono::milliseconds(0), true},
                                           LossCase{"NotTriedWithinTheInterval", std::chrono::hours(1), false}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace zt
