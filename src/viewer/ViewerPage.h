#pragma once

#include "commands/CommandRouter.h"
#include "viewer/EmptyStateView.h"
#include "viewer/ViewerViewController.h"

#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class FilmstripView;
class HudBubble;
struct MenuContext;
class QLabel;
class QVariantAnimation;
class ViewerPageEdits;
class ViewerPageRename;
class ViewerPageExport;
class ZoomableImageView;

// The viewer as a page of the main window: it lays out the image view, the
// filmstrip, the message bubble, the empty state and any overlays, forwards the
// views' reports to its ViewerViewController, and carries the viewer's commands
// (its `commands` handlers, which the window's router reaches while this page
// is the active one). The window-shaped behaviours live here too, because they
// need the window: the peek, Escape and full screen.
class ViewerPage : public QWidget, public CommandPage
{
    Q_OBJECT
public:
    explicit ViewerPage(QWidget *parent = nullptr);
    // Tests inject a private loader.
    explicit ViewerPage(ImageLoader &loader, QWidget *parent = nullptr);
    ~ViewerPage() override;

    QWidget *pageWidget() override { return this; }
    void pageActivated() override;

    // Opens a location (folder or photo) and shows it.
    void open(const QString &url);

    ViewerViewController *controller() const { return m_controller; }
    ZoomableImageView *imageView() const { return m_imageView; }
    // Ratings and the rotation save of the shown photo.
    ViewerPageEdits *edits() const { return m_edits; }
    // Rename and batch rename.
    ViewerPageRename *renames() const { return m_rename; }
    // Export and batch convert.
    ViewerPageExport *exports() const { return m_exports; }
    FilmstripView *filmstrip() const { return m_filmstrip; }

    // The photo the person sees, or none (no photo, or the next one still on its way).
    std::optional<QString> currentPhotoPath() const { return m_controller->shownPhotoPath(); }
    // Whether a command may act on the current photo's file: it is the one on
    // screen, or this program is rewriting it. When another program changed
    // it or put another file under its name, says so and shows the new file.
    bool currentFileIsShownOne();

    // ---- The message bubble
    void flash(const QString &message, double seconds);
    void hideHudUnlessFlashing();
    bool isFlashing() const;
    QString hudMessage() const;
    bool hudVisible() const;
    // Where the message bubble is, in this page's coordinates.
    QRect hudGeometry() const;

    // ---- Overlays
    // Puts a widget over the photo (a toolbar, arrows, a panel). The page owns it
    // from now on, keeps it above the photo, and calls place with the photo area
    // (the page minus the filmstrip) whenever the layout changes.
    void addOverlay(QWidget *overlay, std::function<void(QWidget *overlay, const QRect &photoArea)> place);
    QRect photoArea() const;

    // ---- States
    EmptyStateView *emptyState() const { return m_emptyState; }
    QString emptyHint() const;
    // The message in the photo's place when it could not be shown (empty when none).
    QString failureMessage() const;
    bool filmstripShown() const { return filmstripHeight > 0; }
    bool infoPanelVisible() const { return infoPanelShown && infoPanelShown(); }
    bool peeking() const { return peekSaved.has_value(); }
    // The filmstrip's height now (0 hidden) and whether it floats over the photo
    // (the slideshow's layout) rather than taking its room from it.
    int filmstripHeightNow() const { return filmstripHeight; }
    bool filmstripFloating() const { return m_filmstripFloating; }
    void setFilmstripFloating(bool floating);

    // ---- Viewer commands that need the window (also reached through `commands`)
    void handleEscape();
    void toggleFullScreen();
    // Full screen on or off, over the window's other state: a maximised window
    // is maximised again when full screen ends.
    void setFullScreen(bool on);
    bool beginPeek();
    void endPeek();
    // Ends a peek however it began (the held key's state included); nothing when none.
    void endAnyPeek();
    void fitWindowToPhoto();
    void toggleFilmstrip();
    void openFolderPanel();
    void rotate(int quarterTurns);

    // The Open panel as a sheet; the window wires in the shared panel. Without
    // it a folder chooser is used.
    std::function<void(const QString &startFolder, std::function<void(const QString &)> onChosen)> showOpenPanel;
    // Whether the cleanup review exists in this build: the hint that advertises
    // its key is shown only then.
    std::function<bool()> cleanupAvailable;
    // The chosen editor's display name (empty: none chosen) and the current
    // photo's rating, for the menu's title and ticks; set by the parts that own them.
    std::function<QString()> editorName;
    std::function<int()> currentRating;
    // The overlays' hooks: the information panel's state for Escape, a new photo
    // (or the message that it cannot be shown) reaching the screen, a peek
    // starting or ending.
    std::function<bool()> infoPanelShown;
    std::function<void()> hideInfoPanel;
    std::function<void()> onPhotoShown;
    std::function<void(bool peeking)> onPeekChanged;

    // The enabled/ticked/title rule of a viewer command, from the preferences and
    // the current photo. Pass it with a handler that a later part adds, e.g.
    //   page->commands.on(CommandId::openInEditor, run, page->menuRule(CommandId::openInEditor));
    std::function<CommandState(int tag)> menuRule(CommandId id) const;

    struct PeekSaved
    {
        QRect frame;
        QSize minimumSize;
        bool filmstripHidden = false;
        bool infoPanelHidden = true;
    };
    std::optional<PeekSaved> peekSaved;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // What the menu rules share, worked out once per batch of state questions.
    const MenuContext &ruleContext() const;
    mutable quint64 ruleContextBatch = 0;
    mutable std::shared_ptr<MenuContext> ruleContextCache;

    void build();
    void wireImageView();
    void wireController();
    void registerCommands();
    void layoutChildren();
    void placeEmptyState();
    void setEmptyStateVisible(bool visible, const QString &hint = {});
    void showFailure(const QString &url, const Codec::RefusalReason &why);
    void maybeShowCleanupHint();
    void animateWindowTo(const QRect &frame);
    int previewTargetSize() const;

    ViewerViewController *m_controller = nullptr;
    ZoomableImageView *m_imageView = nullptr;
    ViewerPageEdits *m_edits = nullptr;
    ViewerPageRename *m_rename = nullptr;
    ViewerPageExport *m_exports = nullptr;
    FilmstripView *m_filmstrip = nullptr;
    HudBubble *hud = nullptr;
    EmptyStateView *m_emptyState = nullptr;
    QLabel *failureLabel = nullptr;
    QVariantAnimation *windowAnimation = nullptr;
    int filmstripHeight = 76;
    bool m_filmstripFloating = false;

    struct Overlay
    {
        QWidget *widget;
        std::function<void(QWidget *, const QRect &)> place;
    };
    std::vector<Overlay> overlays;
};
