// The libraries below both converters of cairo_fonts_test: those of the Visio road (fontconfig's
// pattern caches live until the process ends; pango and harfbuzz hand objects between their
// threads with synchronisation ThreadSanitizer cannot see: glib's own mutexes and conditions
// wait on futexes directly) and those of the XPS road (libgxps
// leaks what it allocates through glib in places; glibc's time-zone set-up behind libzip and
// cairo's pools of freed objects hand memory between threads under locks it cannot see). cairo
// takes its own font-cache mutexes in one order when a font is made and in another when one is
// let go; on these roads both happen only under the process-wide cairo font lock.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:g_malloc\n";
}

extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
  return "race:libfontconfig.so\nrace:libpango-1.0.so\nrace:libpangoft2-1.0.so\nrace:libharfbuzz.so\nrace:libglib-2.0.so\n"
         "race:tzset_internal\nrace:libcairo.so\ndeadlock:libcairo.so\n";
}
