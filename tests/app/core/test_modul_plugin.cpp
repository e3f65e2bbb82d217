// A module plugin for the factory's tests: its entry hands over to the test program, which
// registers what the test needs.

#include "core/DocumentModul.h"

extern "C" void lectern_test_modul_plugin_entered();

LECTERN_MODULE_PLUGIN_ENTRY { lectern_test_modul_plugin_entered(); }
