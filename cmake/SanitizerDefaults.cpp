// Default options of the sanitizer runtimes, compiled into every executable of a sanitizer build, so that
// the suite and the program run the same way however they are started.
extern "C" {

const char* __tsan_default_options()
{
    return "halt_on_error=1 second_deadlock_stack=1 die_after_fork=0"; // children exec at once
}

// Qt's own synchronisation (futex-based QMutex, its event queue) is invisible to ThreadSanitizer unless Qt
// itself is instrumented; races reported inside Qt's uninstrumented libraries are not ours to see.
const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libQt6DBus.so.6\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libdbus-1.so.3\n"
           // glibc guards its time-zone state with an internal lock that ThreadSanitizer cannot see.
           "race:tzset_internal\n";
}

const char* __ubsan_default_options()
{
    return "print_stacktrace=1 halt_on_error=1";
}

// One-time allocations of the platform libraries that live until exit.
const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libQt6Gui.so\n"
           "leak:libQt6Core.so\n"
           "leak:libdbus-1.so\n";
}
}
