// The stored shortcut overrides (JSON): the decoder, then everything the program
// does with a decoded binding (its display text, its menu key, its action), and the
// round trip through the writer, which must give back the same bindings.

#include "FuzzSupport.h"

#include "settings/ShortcutsInternal.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Key names come from the platform theme, as in the program.
    Fuzz::quietQt();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto overrides = ShortcutsDetail::decode(Fuzz::view(data, size));
    if (!overrides)
        return 0;
    for (auto it = overrides->cbegin(); it != overrides->cend(); ++it) {
        Shortcuts::actionFromRawName(it.key());
        FUZZ_CHECK((it->mods & ~KeyMods::mask) == 0);
        Shortcuts::displayString(*it);
        Shortcuts::keyEquivalent(*it);
    }
    const auto reread = ShortcutsDetail::decode(ShortcutsDetail::encode(*overrides));
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(*reread == *overrides);
    return 0;
}
