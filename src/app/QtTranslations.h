#pragma once

// Qt's own words (the file panels' "Look in:" and "Cancel", a message box's
// buttons, a text field's context menu) in the language of the program's
// texts, from Debian's qt6-translations-l10n. English needs none. Replaces
// what an earlier call installed; false when no catalogue was found for the
// language (Qt's words then stay English).
bool installQtTranslations();
