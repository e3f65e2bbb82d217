// Third-party font machinery behind librsvg: fontconfig's pattern caches live until the process
// ends (not leaks of the converter), and pango initialises fontconfig on a thread of its own
// with synchronisation ThreadSanitizer cannot see into; its font-sorting thread hands harfbuzz
// objects back the same way.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
  return "race:libfontconfig.so\nrace:libpango-1.0.so\nrace:libpangoft2-1.0.so\nrace:libharfbuzz.so\n";
}
