#pragma once

// The stored form of the user's shortcut overrides, shared with the tests and the
// fuzzing harness; not part of the settings interface.

#include "settings/Shortcuts.h"

#include <QByteArray>
#include <QMap>

#include <optional>

namespace ShortcutsDetail {

// The user's overrides by raw name. Entries for names this version does not know
// are kept, so that they survive the next save.
using OverrideMap = QMap<QString, KeyCombo>;

// The JSON object of the customShortcuts setting; absent when anything in it is
// not a binding (the stored text is untrusted: hand-edited or from another version).
std::optional<OverrideMap> decode(const QByteArray &data);
QByteArray encode(const OverrideMap &map);

} // namespace ShortcutsDetail
