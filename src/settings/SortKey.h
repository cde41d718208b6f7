#pragma once

#include <array>

// The five orders of a folder. Raw values are stored in the settings (sortKey).
enum class SortKey : int { name = 0, captureDate = 1, modified = 2, created = 3, size = 4 };

inline constexpr std::array<SortKey, 5> allSortKeys{SortKey::name, SortKey::captureDate, SortKey::modified,
                                                   SortKey::created, SortKey::size};

// A stored raw value outside 0...4 reads as name.
constexpr SortKey sortKeyFromRaw(long long raw)
{
    return raw >= 0 && raw <= 4 ? static_cast<SortKey>(raw) : SortKey::name;
}

// Text key of the sort order's title ("sort.name" ...).
const char *sortKeyTitleKey(SortKey key);
