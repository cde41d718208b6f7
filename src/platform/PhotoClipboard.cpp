#include "platform/PhotoClipboard.h"

#include "platform/Codec.h"

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QUrl>

namespace {

const QString pngType = QStringLiteral("image/png");

// The picture types that pasting programs commonly read as they are.
bool pastedAsItIs(const QString &type)
{
    static const QStringList types = {pngType,
                                      QStringLiteral("image/jpeg"),
                                      QStringLiteral("image/webp"),
                                      QStringLiteral("image/gif"),
                                      QStringLiteral("image/bmp"),
                                      QStringLiteral("image/tiff")};
    return types.contains(type);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray uprightPng(const QString &path)
{
    const QImage picture = Codec::decodeFull(path, PhotoMimeData::pngSideLimit);
    if (picture.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // Qt's PNG quality chooses the deflate level: 80 gives level 1, several
    // times faster than the default for a few per cent more bytes.
    writer.setQuality(80);
    if (!writer.write(picture))
        return {};
    return bytes;
}

} // namespace

PhotoMimeData::PhotoMimeData(const QString &photo)
    : path(photo)
{
    const QUrl url = QUrl::fromLocalFile(path);
    setUrls({url});
    setText(path);
    setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + url.toEncoded());
    const QString type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchContent).name();
    if (pastedAsItIs(type))
        ownType = type;
}

QStringList PhotoMimeData::formats() const
{
    QStringList all = QMimeData::formats();
    if (!ownType.isEmpty())
        all << ownType;
    if (ownType != pngType)
        all << pngType;
    return all;
}

bool PhotoMimeData::hasFormat(const QString &mimeType) const
{
    return formats().contains(mimeType);
}

QVariant PhotoMimeData::retrieveData(const QString &mimeType, QMetaType type) const
{
    // A photo gone or damaged since the copy offers no picture.
    if (!ownType.isEmpty() && mimeType == ownType) {
        const QByteArray bytes = fileBytes(path);
        return bytes.isEmpty() ? QVariant() : QVariant(bytes);
    }
    if (mimeType == pngType) {
        if (!png)
            png = uprightPng(path);
        return png->isEmpty() ? QVariant() : QVariant(*png);
    }
    return QMimeData::retrieveData(mimeType, type);
}

namespace PhotoClipboard {

void copy(const QString &path)
{
    QGuiApplication::clipboard()->setMimeData(new PhotoMimeData(path), QClipboard::Clipboard);
}

} // namespace PhotoClipboard
