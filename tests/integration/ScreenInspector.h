#pragma once

#include "integration/PointerObserver.h"

#include <QImage>

#include <memory>
#include <string>
#include <vector>

namespace zt::test {

// An X client that looks at the screen as a user would see it and uses the
// mouse as a user would: finds windows, grabs pictures of parts of the
// screen, clicks through XTest.
class ScreenInspector {
public:
    struct Window {
        unsigned long id = 0;
        Rect area; // in root coordinates
        bool viewable = false;
        bool overrideRedirect = false;
        bool topLevel = false;
        std::string wmClass; // the class part of WM_CLASS
        std::vector<std::string> ancestorClasses;
    };

    explicit ScreenInspector(const std::string& displayName);
    ~ScreenInspector();
    ScreenInspector(const ScreenInspector&) = delete;
    ScreenInspector& operator=(const ScreenInspector&) = delete;

    // Every window of the tree, parents before children.
    std::vector<Window> windows();
    // What the screen shows in `area`.
    QImage grab(Rect area);
    void click(int x, int y, int button);
    // Whether some client owns the selection named `name`.
    bool selectionOwned(const std::string& name);

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

} // namespace zt::test
