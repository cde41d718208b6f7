#include "app/ViewerWindowController.h"

#include "app/OpenPanel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace {

// The same per-user store as the preferences (~/.config/Glanto/Glanto.conf).
QSettings frameStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Glanto"),
                     QStringLiteral("Glanto"));
}

} // namespace

ViewerWindowController::ViewerWindowController(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("viewerWindow"));
    setWindowTitle(QStringLiteral("Glanto"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("app.glanto.Glanto")));

    // Black and opaque behind everything, whatever the desktop's theme.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    setMinimumSize(minimumContentSize);
    auto *content = new ContentController(this);
    content->showOpenPanel = [this](const QString &startFolder, std::function<void(const QString &)> onChosen) {
        ::showOpenPanel(this, startFolder, std::move(onChosen));
    };
    setCentralWidget(content);
    restoreFrame();
}

void ViewerWindowController::showWindow()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

ContentController *ViewerWindowController::contentController() const
{
    return qobject_cast<ContentController *>(centralWidget());
}

void ViewerWindowController::open(const QString &path)
{
    if (ContentController *content = contentController())
        content->open(path);
}

void ViewerWindowController::openFolderPanel()
{
    if (ContentController *content = contentController())
        content->openFolderPanel();
}

void ViewerWindowController::saveFrame() const
{
    frameStore().setValue(QLatin1String(frameAutosaveName), saveGeometry());
}

void ViewerWindowController::closeEvent(QCloseEvent *event)
{
    saveFrame();
    QMainWindow::closeEvent(event);
}

void ViewerWindowController::restoreFrame()
{
    // Only the size is taken from the last session: the window always opens
    // centred, and never maximised or full screen.
    QSize size = initialSize;
    const QByteArray saved = frameStore().value(QLatin1String(frameAutosaveName)).toByteArray();
    const bool restored = !saved.isEmpty() && restoreGeometry(saved);
    if (restored) {
        setWindowState(Qt::WindowNoState);
        size = normalGeometry().isValid() ? normalGeometry().size() : this->size();
    }

    // A size remembered from a larger screen is brought back onto this one.
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    if (available.isValid() && restored)
        size = size.boundedTo(available.size());
    size = size.expandedTo(minimumContentSize);
    resize(size);

    if (available.isValid()) {
        QRect frame(QPoint(), size);
        frame.moveCenter(available.center());
        move(frame.topLeft());
    }
}
