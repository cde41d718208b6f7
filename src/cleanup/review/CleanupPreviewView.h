#pragma once

#include <QImage>
#include <QRectF>
#include <QVector>
#include <QWidget>

class QLabel;

// The large preview over the whole review screen. While it is shown it takes
// every click (and does nothing with them); hidden, it lets them through.
class CleanupPreviewView : public QWidget
{
public:
    explicit CleanupPreviewView(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    void setFaces(const QVector<QRectF> &faces);
    void setCaption(const QString &caption);
    const QImage &image() const { return picture; }

    // The picture's place: aspect-fitted and centred into the view less 40 on
    // the left and right and less 90 of height for the caption band.
    static QRectF fittedRect(const QSizeF &imageSize, const QSizeF &viewSize);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QImage picture;
    QVector<QRectF> faces;
    QLabel *captionLabel;
};
