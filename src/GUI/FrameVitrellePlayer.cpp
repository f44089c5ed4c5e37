#include "FrameVitrellePlayer.h"

#include "PageEvents.h"
#include "VitrelleCenterAgent.h"

TFrameVitrellePlayer::TFrameVitrellePlayer(QWidget* owner, TVitrelleCenterAgent& agent, TPageEvents& events)
    : QFrame(owner), FAgent(agent)
{
    setObjectName(QStringLiteral("TFrameVitrellePlayer"));
    Q_UNUSED(events);
}

TFrameVitrellePlayer::~TFrameVitrellePlayer() = default;
