#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

namespace zt {

class Bundle;

// The About window: made once, hidden (not destroyed) when closed. Its frame
// is kept in the settings store under "Main Window" across runs.
class AboutWindow : public QWidget {
    Q_OBJECT
public:
    static inline const QString frameAutosaveName = QStringLiteral("Main Window");

    explicit AboutWindow(const Bundle& bundle, QWidget* parent = nullptr);
    ~AboutWindow() override;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void saveFrame();

    // A drag moves the window many times a second; write once it rests.
    QTimer saveTimer_;
};

} // namespace zt
