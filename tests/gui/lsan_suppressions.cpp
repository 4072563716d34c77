// The system's font configuration library keeps caches that the leak checker reports at exit;
// they are not the program's.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
