#include "FrameVitrelleDevice.h"

#include "PageEvents.h"
#include "VitrelleCenterAgent.h"

TFrameVitrelleDevice::TFrameVitrelleDevice(QWidget* owner, TVitrelleCenterAgent& agent, TPageEvents& events)
    : QFrame(owner), FAgent(agent)
{
    setObjectName(QStringLiteral("TFrameVitrelleDevice"));
    Q_UNUSED(events);
}

TFrameVitrelleDevice::~TFrameVitrelleDevice() = default;
