#pragma once

#include <QString>

#include <functional>
#include <optional>

class QDialog;
class QHBoxLayout;
class QPushButton;
class QWidget;

// Every modal dialog of the pages goes through here, like the message boxes, so that a test answers them
// instead of an operator and never blocks on one.
class TModal
{
public:
    // Shows the dialog modally and gives its result (QDialog::Accepted or Rejected).
    static int Exec(QDialog& dialog);
    // The folder chooser, titled; empty when cancelled.
    static QString ChooseFolder(QWidget* parent, const QString& title);
    // An open-file dialog for XML files starting in folder; the full name of the file picked, empty when
    // cancelled.
    static QString ChooseXmlFile(QWidget* parent, const QString& folder);

    // Tests: the next dialog is not shown; answer gets it filled as the program left it, may change its
    // controls, and gives the result.
    static void SetNextDialogAnswer(std::function<int(QDialog&)> answer);
    // Tests: the next folder or file chooser gives this path (empty: cancelled) and is not shown; the title
    // or folder it was opened with is kept.
    static void SetNextChoice(const QString& path);
    static std::optional<QString> TakeLastChooserText();
    // The test harness checks after every test that no answer is left over.
    static bool AnswerPending();
    static void ResetForTests();
};

// The OK (default, 75 x 25) and Cancel (78 x 25) buttons of a dialog (more when their font needs it),
// closing it with Accepted or Rejected, at the right end of the row given for the dialog's layout.
QHBoxLayout* AddOkCancelButtons(QDialog& dialog, QPushButton*& ok, QPushButton*& cancel);

// A busy cursor for as long as it lives: the page waits on a serial line or the server, bounded by their
// time-outs, and the operator sees it is not frozen.
class TBusyCursor
{
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};
