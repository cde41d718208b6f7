#include "settings/Shortcuts.h"
