#include "ApplySavePanel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>

TApplySavePanel CreateApplySavePanel(QWidget* page, int height, int topMargin)
{
    auto* panel = new QFrame(page);
    panel->setObjectName(QStringLiteral("pnlButton"));
    panel->setFrameShape(QFrame::NoFrame);
    panel->setFixedHeight(height);
    auto* buttons = new QHBoxLayout(panel);
    buttons->setContentsMargins(0, topMargin, 3, 3);
    buttons->setSpacing(6);
    buttons->addStretch(1);
    TApplySavePanel result{panel, new QPushButton(QStringLiteral("Apply"), panel),
                           new QPushButton(QStringLiteral("Save"), panel)};
    result.Apply->setObjectName(QStringLiteral("btnApplySettings"));
    result.Save->setObjectName(QStringLiteral("btnSaveSettings"));
    for (QPushButton* button : {result.Apply, result.Save}) {
        button->setFixedSize(85, 25);
        buttons->addWidget(button, 0, Qt::AlignTop);
    }
    return result;
}
