#pragma once

#include <QString>

#include <QApplication>

#include <exception>

// The program's application object. It is the one boundary around the event loop: an error that escapes a
// slot, a timer or any other event handler is logged at level 1 under the class name of the object that
// raised it and shown in a modal error box with one OK button; the event loop and the program go on.
class TVitrelleCenterApplication : public QApplication
{
    Q_OBJECT
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleCenterApplication"};

    TVitrelleCenterApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The source name an error of this receiver is logged under: the class of the receiver, or of its
    // nearest owner that is one of ours when the receiver is a plain Qt object (a timer, a button).
    static QString ErrorSource(const QObject* receiver);
    // Logs and shows the error; on a thread other than the main one, and while a box is already shown, the
    // error is only logged, so a handler that fails again and again cannot stack boxes up.
    static void ReportError(const QObject* receiver, std::exception_ptr error);
};
