#pragma once

// Sandboxes for the file-operation tests: copies of corpus files (or files the
// test makes) in a throw-away folder, with byte and pixel comparisons.

#include "platform/Codec.h"

#include "TestData.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

// A corpus photo: the bundled copy when the repository carries one, else the corpus's own.
inline QString corpusPath(const QString &relative)
{
    return TestData::photo(relative);
}

inline bool corpusHas(const QString &relative)
{
    return QFile::exists(corpusPath(relative));
}

#define SKIP_WITHOUT_CORPUS(relative)                                                                          \
    do {                                                                                                       \
        if (!corpusHas(relative))                                                                              \
            GTEST_SKIP() << "corpus file missing: " << QString(relative).toStdString();                       \
    } while (0)

inline QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// A copy of a corpus file in the sandbox under the given name.
inline QString copyCorpus(const QTemporaryDir &dir, const QString &relative, const QString &name)
{
    const QString target = dir.filePath(name);
    QFile::remove(target);
    if (!QFile::copy(corpusPath(relative), target))
        return {};
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                      | QFileDevice::ReadOther);
    return target;
}

// The names in the folder, hidden ones included, sorted.
inline QStringList folderNames(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Decoded, upright, as the viewer shows it.
inline QImage shown(const QString &path)
{
    return Codec::decodeFull(path).convertToFormat(QImage::Format_RGBA8888);
}

inline QImage turnedClockwise(const QImage &image, int quarterTurns)
{
    QTransform t;
    t.rotate(90.0 * quarterTurns);
    return image.transformed(t);
}

// A small picture with structure in every corner, so that a turn or a mirror
// cannot pass for another.
inline QImage patternImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255) / width, (y * 255) / height, ((x + y) % 7) * 36));
    }
    return image;
}
