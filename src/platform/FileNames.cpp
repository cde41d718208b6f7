#include "platform/FileNames.h"

#include <QFile>

namespace FileNames {

QString stemFitting(QString stem, qsizetype restBytes)
{
    while (QFile::encodeName(stem).size() + restBytes > maxBytes && stem.size() > 1)
        stem.chop(stem.size() > 2 && stem.back().isLowSurrogate() ? 2 : 1);
    return stem;
}

} // namespace FileNames
