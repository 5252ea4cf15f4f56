#pragma once

#include "integration/MotionModel.h"

#include <QImage>

#include <memory>
#include <string>
#include <vector>

struct _XDisplay;

namespace zt::test {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// An X client that sees the screen and uses the mouse as a user would (finds
// windows, grabs pictures, clicks through XTest) and watches the pointer.
class ScreenInspector {
public:
    struct Window {
        Rect area; // in root coordinates
        bool viewable = false;
        bool overrideRedirect = false;
        bool topLevel = false;
        std::string wmClass; // the class part of WM_CLASS
        std::vector<std::string> ancestorClasses;
    };

    explicit ScreenInspector(const std::string& displayName);

    // Every window of the tree, parents before children.
    std::vector<Window> windows();
    // What the screen shows in `area`.
    QImage grab(Rect area);
    void click(int x, int y, int button);
    // Whether some client owns the selection named `name`.
    bool selectionOwned(const std::string& name);
    // A stand-in window manager for as long as this client lives.
    void announceWindowManager();

    // A window over `area` that selects motion and button events.
    void watchPointer(Rect area);
    // Puts the pointer at (x, y) and forgets every pointer event so far.
    void warp(int x, int y);
    // Every pointer event delivered to that window so far, in order.
    const std::vector<PointerEvent>& pointerEvents();

private:
    void walk(unsigned long parent, const std::vector<std::string>& above, std::vector<Window>& found);

    std::unique_ptr<_XDisplay, int (*)(_XDisplay*)> display_;
    unsigned long window_ = 0;
    std::vector<PointerEvent> events_;
};

} // namespace zt::test
