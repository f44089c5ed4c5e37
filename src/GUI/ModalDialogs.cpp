#include "ModalDialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace {
std::function<int(QDialog&)> NextDialogAnswer;
std::optional<QString> NextChoice;
std::optional<QString> LastChooserText;
} // namespace

int TModal::Exec(QDialog& dialog)
{
    if (NextDialogAnswer) {
        const std::function<int(QDialog&)> answer = std::move(NextDialogAnswer);
        NextDialogAnswer = nullptr;
        return answer(dialog);
    }
    return dialog.exec();
}

QString TModal::ChooseFolder(QWidget* parent, const QString& title)
{
    LastChooserText = title;
    if (NextChoice) {
        const QString path = *NextChoice;
        NextChoice.reset();
        return path;
    }
    // No start folder: the chooser opens where the toolkit chooses, as on a fresh system.
    QString path = QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString TModal::ChooseXmlFile(QWidget* parent, const QString& folder)
{
    LastChooserText = folder;
    if (NextChoice) {
        const QString path = *NextChoice;
        NextChoice.reset();
        return path;
    }
    QFileDialog dialog(parent, QString(), folder, QStringLiteral("XML (*.xml)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("xml"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void TModal::SetNextDialogAnswer(std::function<int(QDialog&)> answer)
{
    NextDialogAnswer = std::move(answer);
}

void TModal::SetNextChoice(const QString& path)
{
    NextChoice = path;
}

std::optional<QString> TModal::TakeLastChooserText()
{
    std::optional<QString> text = LastChooserText;
    LastChooserText.reset();
    return text;
}

bool TModal::AnswerPending()
{
    return static_cast<bool>(NextDialogAnswer) || NextChoice.has_value();
}

void TModal::ResetForTests()
{
    NextDialogAnswer = nullptr;
    NextChoice.reset();
    LastChooserText.reset();
}

TBusyCursor::TBusyCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TBusyCursor::~TBusyCursor()
{
    QApplication::restoreOverrideCursor();
}

QHBoxLayout* AddOkCancelButtons(QDialog& dialog, QPushButton*& ok, QPushButton*& cancel)
{
    ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setMinimumSize(75, 25);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    cancel->setMinimumSize(78, 25);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->setSpacing(11);
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}
