#pragma once

#include "Errors.h"
#include "Log.h"

#include <utility>

// A boundary that must not stop the system: runs the work, and an error it raises is logged at level 1
// under the class name of the object at the boundary (a foreign exception with its what() text). True when
// the work ran to its end.
template <typename TWork> bool LogErrors(const QString& source, TWork&& work)
{
    try {
        std::forward<TWork>(work)();
        return true;
    } catch (const EVitrelleError& error) {
        WriteLog(source, 1, error.Message());
    } catch (const std::exception& error) {
        WriteLog(source, 1, QString::fromUtf8(error.what()));
    }
    return false;
}
