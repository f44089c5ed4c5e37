#include "FrameVitrelleSettings.h"

#include "PageEvents.h"
#include "VitrelleCenterAgent.h"

TFrameVitrelleSettings::TFrameVitrelleSettings(QWidget* owner, TVitrelleCenterAgent& agent,
                                               TPageEvents& events)
    : QFrame(owner), FAgent(agent)
{
    setObjectName(QStringLiteral("TFrameVitrelleSettings"));
    Q_UNUSED(events);
}

TFrameVitrelleSettings::~TFrameVitrelleSettings() = default;
