#include "VitrelleCenterApplication.h"

#include "Errors.h"
#include "Log.h"
#include "MainThread.h"
#include "MessageBox.h"

#include <QMetaObject>

namespace {

// Main thread only.
bool ShowingError = false;

bool IsQtClass(const QObject* object)
{
    const char* name = object->metaObject()->className();
    return name[0] == 'Q' && name[1] >= 'A' && name[1] <= 'Z';
}

QString ErrorText(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EVitrelleError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

} // namespace

TVitrelleCenterApplication::TVitrelleCenterApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("VitrelleCenter"));
}

bool TVitrelleCenterApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportError(receiver, std::current_exception());
        return false;
    }
}

QString TVitrelleCenterApplication::ErrorSource(const QObject* receiver)
{
    const QObject* object = receiver;
    while (object != nullptr && IsQtClass(object) && object->parent() != nullptr)
        object = object->parent();
    if (object == nullptr)
        return LogSource;
    return QString::fromLatin1(object->metaObject()->className());
}

void TVitrelleCenterApplication::ReportError(const QObject* receiver, std::exception_ptr error)
{
    const QString message = ErrorText(error);
    WriteLog(ErrorSource(receiver), 1, message);
    if (!OnMainThread() || ShowingError)
        return;
    ShowingError = true;
    TMessageBox::Error(nullptr, message);
    ShowingError = false;
}
