#pragma once

#include <QWidget>

namespace zt {

class Bundle;

// The About window's content: icon, title and, when the bundle states one,
// the version, stacked and centred in a fixed 300 x 200 frame.
class ContentView : public QWidget {
    Q_OBJECT
public:
    explicit ContentView(const Bundle& bundle, QWidget* parent = nullptr);
};

} // namespace zt
