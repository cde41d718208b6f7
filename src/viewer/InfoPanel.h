#pragma once

#include "viewer/ExifSummary.h"

#include <QThreadPool>
#include <QWidget>

#include <functional>

class QFont;
class QLabel;
class QScrollArea;
class QVBoxLayout;

// The information panel: the photo's EXIF summary and rating on a rounded panel
// 300 wide. The summary is read off the main thread; a result is shown only when
// it is still the newest request, the viewer's generation has not moved and the
// panel is still shown. Every text that comes from the file is plain text.
class InfoPanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int panelWidth = 300;
    static constexpr int cornerRadius = 12;
    static constexpr int rowSpacing = 6;
    static constexpr int insetV = 14;
    static constexpr int insetH = 16;
    static constexpr int valueWidth = 260;

    explicit InfoPanel(QWidget *parent = nullptr);
    ~InfoPanel() override;

    // The viewer's generation now; a summary started under another one is dropped.
    std::function<int()> currentGeneration;
    // Computes the summary of a file (off the main thread); tests may replace it.
    std::function<QList<ExifEntry>(const QString &path)> summarize;
    // The panel was rebuilt (its height may have changed): lay it out again.
    std::function<void()> onRebuilt;

    // Reads the summary of path for the photo shown under generation.
    void refresh(const QString &path, int generation);
    // The current photo's rating (0 to 5); shown as stars when at least 1.
    void setRating(int rating);
    // Shows entries at once (what a finished refresh does).
    // unreadable: there are no entries because the file cannot be read.
    void showEntries(const QList<ExifEntry> &entries, bool unreadable = false);

    QList<ExifEntry> entries() const { return m_entries; }
    bool loaded() const { return m_loaded; }
    // The whole of the rows, however little room the window leaves.
    QSize sizeHint() const override;
    int rating() const { return m_rating; }
    // Waits for summaries under way (tests).
    void waitForSummaries() { exifQueue.waitForDone(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rebuild();
    QLabel *addLabel(const QString &text, const QFont &font, const QColor &color);

    QScrollArea *scroller;
    QWidget *content; // the rows, scrolled when the panel is shorter than they are
    QVBoxLayout *rows;
    QList<ExifEntry> m_entries;
    bool m_loaded = false;
    bool m_unreadable = false;
    int m_rating = 0;
    int requestSerial = 0;
    QThreadPool exifQueue;
};

