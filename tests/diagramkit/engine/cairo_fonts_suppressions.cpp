// The libraries below both converters of cairo_fonts_test: those of the Visio road (fontconfig's
// pattern caches live until the process ends; pango and harfbuzz hand objects between their
// threads with synchronisation ThreadSanitizer cannot see) and those of the XPS road (libgxps
// leaks what it allocates through glib in places; glibc's time-zone set-up behind libzip and
// cairo's pools of freed objects hand memory between threads under locks it cannot see).
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:g_malloc\n";
}

extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
  return "race:libfontconfig.so\nrace:libpango-1.0.so\nrace:libpangoft2-1.0.so\nrace:libharfbuzz.so\n"
         "race:tzset_internal\nrace:libcairo.so\n";
}
