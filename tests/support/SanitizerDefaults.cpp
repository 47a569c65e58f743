// The sanitizers' defaults of every test program, however it is started
// (ctest, test.sh, or by hand from any shell): whatever ASAN_OPTIONS or
// LSAN_OPTIONS say is read after these and wins.
//
// LeakSanitizer's scan at exit reads the threads' dynamic TLS blocks as
// AddressSanitizer intercepted them; the GL driver's blocks are not all
// seen there, and a scan that reads them crashes ("Tracer caught signal
// 11") after every test passed. The GL tests leave dynamic TLS alone.
// Leaks inside third-party libraries are listed in tests/lsan.supp.

extern "C" const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0";
}

extern "C" const char* __lsan_default_options() { return "suppressions=" ENGINE_LSAN_SUPPRESSIONS; }
