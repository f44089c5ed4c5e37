#pragma once

class QFrame;
class QPushButton;
class QWidget;

// The bar along the bottom of the Devices, Schedule and Settings pages: pnlButton with the right-anchored
// buttons btnApplySettings "Apply" and btnSaveSettings "Save" (85 x 25, more when their font needs it),
// topMargin pixels below its top edge, the bar height pixels high at the least.
struct TApplySavePanel
{
    QFrame* Panel;
    QPushButton* Apply;
    QPushButton* Save;
};

TApplySavePanel CreateApplySavePanel(QWidget* page, int height, int topMargin);
