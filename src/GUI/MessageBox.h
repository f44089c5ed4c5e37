#pragma once

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

private:
    static QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                            QMessageBox::StandardButtons buttons);
};
