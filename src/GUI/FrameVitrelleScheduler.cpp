#include "FrameVitrelleScheduler.h"

#include "PageEvents.h"
#include "VitrelleCenterAgent.h"

TFrameVitrelleScheduler::TFrameVitrelleScheduler(QWidget* owner, TVitrelleCenterAgent& agent,
                                                 TPageEvents& events)
    : QFrame(owner), FAgent(agent)
{
    setObjectName(QStringLiteral("TFrameVitrelleScheduler"));
    Q_UNUSED(events);
}

TFrameVitrelleScheduler::~TFrameVitrelleScheduler() = default;
