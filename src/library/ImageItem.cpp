#include "library/ImageItem.h"

QString ImageItem::fileName() const
{
    const qsizetype slash = url.lastIndexOf(u'/');
    return slash < 0 ? url : url.mid(slash + 1);
}
