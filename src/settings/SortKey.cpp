#include "settings/SortKey.h"

const char *sortKeyTitleKey(SortKey key)
{
    switch (key) {
    case SortKey::name: return "sort.name";
    case SortKey::captureDate: return "sort.captureDate";
    case SortKey::modified: return "sort.modified";
    case SortKey::created: return "sort.created";
    case SortKey::size: return "sort.size";
    }
    return "sort.name";
}
