#pragma once

#include "AgentPlatform.h"

#include <QMessageBox>
#include <QString>

#include <optional>

// Every message box of the program goes through here, so that tests can answer them instead of an operator.
class TMessageBox
{
public:
    static QMessageBox::StandardButton Error(QWidget* parent, const QString& text);

    // Tests: the next box is not shown; it answers with this button and its text is kept.
    static void SetNextAnswer(QMessageBox::StandardButton answer);
    static std::optional<QString> TakeLastText();
    // The test harness checks after every test that no answer is left over and forgets the last text.
    static bool AnswerPending();
    static void ResetForTests();

private:
    static QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                            QMessageBox::StandardButtons buttons);
};

// The program's error display: a modal error box with one OK button.
class TMessageBoxErrorPresenter : public IErrorPresenter
{
public:
    void ShowError(const QString& message) override { TMessageBox::Error(nullptr, message); }
};
