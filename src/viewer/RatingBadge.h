#pragma once

#include <QWidget>

class QLabel;

// The stars over the photo for a rated photo: a small rounded panel, the stars in
// the badge colour, sized to its text.
class RatingBadge : public QWidget
{
    Q_OBJECT
public:
    static constexpr int cornerRadius = 8;
    static constexpr int insetH = 10;
    static constexpr int insetV = 5;
    static constexpr int fontSize = 16;

    explicit RatingBadge(QWidget *parent = nullptr);

    void setStars(const QString &stars);
    QString stars() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *label;
};
