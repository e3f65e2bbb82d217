// Libraries below the converter. libgxps leaks what it allocates through glib in places: the
// data of an obfuscated font it loads again (kept under the key of its first load) and strings
// of resource dictionaries. glib has no frame pointers, so those stacks end at g_malloc.
// glibc's time-zone set-up (behind libzip's time conversions), cairo's pools of freed clip and
// pattern objects and glib's slice allocator (behind libgxps) hand memory between threads under
// locks and atomic operations that ThreadSanitizer cannot see.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:g_malloc\n";
}

extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
  return "race:tzset_internal\nrace:libcairo.so\nrace:g_slice_alloc\nrace:g_slice_alloc0\nrace:g_slice_free1\n";
}
