#include "app/AboutWindow.h"

#include "app/ContentView.h"
#include "app/UserDefaults.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>

namespace zt {

namespace {
constexpr int frameSaveDelayMs = 500;
}

AboutWindow::AboutWindow(const Bundle& bundle, QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ContentView(bundle, this), 0, 0, Qt::AlignCenter);

    resize(400, 300);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    const QVariant saved = UserDefaults::standard().object(frameAutosaveName);
    if (saved.isValid())
        restoreGeometry(saved.toByteArray());

    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(frameSaveDelayMs);
    connect(&saveTimer_, &QTimer::timeout, this, &AboutWindow::saveFrame);
}

AboutWindow::~AboutWindow()
{
    if (saveTimer_.isActive())
        saveFrame();
}

void AboutWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (isVisible())
        saveTimer_.start();
}

void AboutWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (isVisible())
        saveTimer_.start();
}

void AboutWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    saveFrame();
}

void AboutWindow::saveFrame()
{
    saveTimer_.stop();
    UserDefaults::standard().setObject(saveGeometry(), frameAutosaveName);
}

} // namespace zt
