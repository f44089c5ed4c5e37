#include "ApplySavePanel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>

#include <algorithm>

TApplySavePanel CreateApplySavePanel(QWidget* page, int height, int topMargin)
{
    auto* panel = new QFrame(page);
    panel->setObjectName(QStringLiteral("pnlButton"));
    panel->setFrameShape(QFrame::NoFrame);
    constexpr int ButtonHeight = 25;
    auto* buttons = new QHBoxLayout(panel);
    buttons->setContentsMargins(0, topMargin, 3, std::max(0, height - topMargin - ButtonHeight));
    buttons->setSpacing(6);
    buttons->addStretch(1);
    TApplySavePanel result{panel, new QPushButton(QStringLiteral("Apply"), panel),
                           new QPushButton(QStringLiteral("Save"), panel)};
    result.Apply->setObjectName(QStringLiteral("btnApplySettings"));
    result.Save->setObjectName(QStringLiteral("btnSaveSettings"));
    for (QPushButton* button : {result.Apply, result.Save}) {
        button->setMinimumSize(85, ButtonHeight);
        buttons->addWidget(button, 0, Qt::AlignTop);
    }
    return result;
}
