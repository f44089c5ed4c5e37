#include "ScheduleSource.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

QString SourceClassName(const IScheduleSource& source)
{
    const char* mangled = typeid(source).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    QString name = QString::fromUtf8(status == 0 && demangled != nullptr ? demangled : mangled);
    std::free(demangled);
    // The class name alone, as the log names its sources: no namespace.
    const qsizetype scope = name.lastIndexOf(QLatin1String("::"));
    return scope < 0 ? name : name.mid(scope + 2);
}
