#include "MessageBox.h"

#include <QApplication>

namespace {
std::optional<QMessageBox::StandardButton> NextAnswer;
std::optional<QString> LastText;
} // namespace

void TMessageBox::SetNextAnswer(QMessageBox::StandardButton answer)
{
    NextAnswer = answer;
}

std::optional<QString> TMessageBox::TakeLastText()
{
    std::optional<QString> text = LastText;
    LastText.reset();
    return text;
}

bool TMessageBox::AnswerPending()
{
    return NextAnswer.has_value();
}

void TMessageBox::ResetForTests()
{
    NextAnswer.reset();
    LastText.reset();
}

QMessageBox::StandardButton TMessageBox::Error(QWidget* parent, const QString& text)
{
    return Show(parent, QMessageBox::Critical, text, QMessageBox::Ok);
}

QMessageBox::StandardButton TMessageBox::Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                              QMessageBox::StandardButtons buttons)
{
    // Messages carry Windows-style line breaks; the box wants plain ones.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    LastText = shown;
    if (NextAnswer) {
        const QMessageBox::StandardButton answer = *NextAnswer;
        NextAnswer.reset();
        return answer;
    }
    QMessageBox box(icon, QApplication::applicationName(), QString(), buttons, parent);
    // Messages quote what the content server sent (names, its answers): shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(shown);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
