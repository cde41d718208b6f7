#pragma once

#include <QMimeData>

#include <optional>

// What Copy puts on the clipboard for a photo: the file itself, for file
// managers (a URI list, and the copied-files list GNOME's file managers paste
// from) and for programs that take files; its path as text; and the picture,
// for a paste into a document or a chat: the file's own bytes where it is a
// JPEG, PNG, WebP, GIF, BMP or TIFF, and a PNG made upright from it. Nothing is
// read before a program asks, so a copy nobody pastes costs nothing.
class PhotoMimeData : public QMimeData
{
public:
    explicit PhotoMimeData(const QString &path);

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

    // The longest side of the PNG made for a photo that is not a PNG itself: a
    // 4K screen's width. A whole 24-megapixel photo as a PNG would take some 15 s
    // to encode while the window waits, and 40 MB; the file's own bytes and the
    // file itself keep every pixel.
    static constexpr int pngSideLimit = 3840;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    QString path;
    QString ownType; // the file's own MIME type where pasting programs read it, else empty
    mutable std::optional<QByteArray> png;
};

namespace PhotoClipboard {

// Makes the photo the content of the desktop's clipboard.
void copy(const QString &path);

} // namespace PhotoClipboard
