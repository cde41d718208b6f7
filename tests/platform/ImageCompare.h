#pragma once

#include <QImage>

#include <cmath>
#include <cstdlib>

// Mean absolute difference per RGB channel (0-255) after bringing b to a's size.
inline double meanDifference(const QImage &a, const QImage &b)
{
    if (a.isNull() || b.isNull())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32)
                         .scaled(x.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum = 0;
    for (int r = 0; r < x.height(); ++r) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(r));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c) {
            sum += std::abs(qRed(p[c]) - qRed(q[c])) + std::abs(qGreen(p[c]) - qGreen(q[c]))
                   + std::abs(qBlue(p[c]) - qBlue(q[c]));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}
