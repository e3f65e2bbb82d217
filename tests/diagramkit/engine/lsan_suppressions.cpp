// fontconfig's pattern caches, filled through pango and cairo while pages are rendered, live
// until the process ends; they are not leaks of the converter.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
