#include "platform/SupportedFiles.h"

const QSet<QString> &supportedImageExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"), QStringLiteral("png"),
        QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("webp"), QStringLiteral("gif"),
        QStringLiteral("bmp"), QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("jp2"),
        QStringLiteral("jxl"), QStringLiteral("avif"), QStringLiteral("ico"), QStringLiteral("icns"),
        QStringLiteral("dng"), QStringLiteral("arw"), QStringLiteral("cr2"), QStringLiteral("cr3"),
        QStringLiteral("nef"), QStringLiteral("raf"), QStringLiteral("orf"), QStringLiteral("rw2"),
        QStringLiteral("srw"), QStringLiteral("pef"),
    };
    return extensions;
}

const QSet<QString> &rawExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("dng"), QStringLiteral("arw"), QStringLiteral("cr2"), QStringLiteral("cr3"),
        QStringLiteral("nef"), QStringLiteral("raf"), QStringLiteral("orf"), QStringLiteral("rw2"),
        QStringLiteral("srw"), QStringLiteral("pef"),
    };
    return extensions;
}

QString imageNameExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0 || dot == fileName.size() - 1)
        return {};
    return fileName.mid(dot + 1).toLower();
}

bool isSupportedImageName(const QString &fileName)
{
    // Every supported extension is at most four characters: longer ones are
    // answered without building a string.
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0 || fileName.size() - dot - 1 > 4)
        return false;
    return supportedImageExtensions().contains(imageNameExtension(fileName));
}

bool isRawImageName(const QString &fileName)
{
    return rawExtensions().contains(imageNameExtension(fileName));
}
