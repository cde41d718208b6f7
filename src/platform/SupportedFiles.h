#pragma once

#include <QSet>
#include <QString>

// Which files the program treats as images: exactly those whose lower-cased
// name extension is one of 26. Only the name is looked at; no contents are
// read, and a folder named "c.png" passes too. The folder model, the cleanup
// scan and the report mode share this one rule (ImageLoader::isSupported
// exposes it to the rest of the program).

// The 26 extensions, lower-case, without the dot.
const QSet<QString> &supportedImageExtensions();

// The ten camera-raw extensions among them. They decide which file of a
// RAW+JPEG pair is the primary one and how a RAW file is decoded for analysis.
const QSet<QString> &rawExtensions();

// The extension of a file name as the rule sees it: the text after the last
// dot, lower-cased; empty when the name has no dot, starts with its only dot
// (".jpg" is a hidden file, not an extension) or ends with one.
QString imageNameExtension(const QString &fileName);

bool isSupportedImageName(const QString &fileName);
bool isRawImageName(const QString &fileName);
