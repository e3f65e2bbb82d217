// The mail container's module plugin: TnefKit and the message view, loaded with the first
// container.

#include "modules/winmail/WinmailModul.h"

LECTERN_MODULE_PLUGIN_ENTRY { WinmailModul::registerModul(); }
