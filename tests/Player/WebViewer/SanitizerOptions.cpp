// Sanitizer options of the web view tests alone, read by the runtimes before main (so they hold however the
// suite is started). Qt WebEngine's Chromium is not instrumented: what the runtimes see of it is not ours to
// judge, while our own code stays checked.
#if defined(__SANITIZE_ADDRESS__)
extern "C" {

// Chromium deletes some objects through a pointer to a smaller base type, which the allocator hooks report.
const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

// Chromium's own allocations that outlive the test: see the file.
const char* __lsan_default_options()
{
    return "suppressions=" VC_WEBENGINE_LSAN_SUPPRESSIONS;
}
}
#endif
