#include "EventWait.h"
#include "FleetNode.h"
#include "FleetPlays.h"
#include "PlayJournal.h"
#include "TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// The link as the node's test drives it: up and down when told, every message kept, acknowledgements by hand.
class TFakeLink : public IFleetLink
{
public:
    struct TState
    {
        IFleetLinkEvents* Events = nullptr;
        bool Up = false;
        qint64 LastTicket = 0;
        std::vector<std::pair<qint64, TFleetMessage>> Sent;
    };
    explicit TFakeLink(std::shared_ptr<TState> state) : FState(std::move(state)) {}
    void Start(IFleetLinkEvents& events) override { FState->Events = &events; }
    qint64 Publish(const TFleetMessage& message) override
    {
        if (!FState->Up)
            return -1;
        const qint64 ticket = message.Qos > 0 ? ++FState->LastTicket : 0;
        FState->Sent.emplace_back(ticket, message);
        return ticket;
    }
    bool Connected() const override { return FState->Up; }

private:
    std::shared_ptr<TState> FState;
};

class TOneDisplay : public IFleetKiosk
{
public:
    TFleetKioskStatus Status() const override { return {QStringLiteral("0.1.0"), {}, 0, 1}; }
    std::vector<TFleetDisplayStatus> Displays() const override
    {
        TFleetDisplayStatus display;
        display.Name = QStringLiteral("Lobby");
        display.LastSwap = Swap;
        return {display};
    }
    void Execute(const TFleetCommand&, TDone done) override { done(true, {}); }
    QString ScreenshotFile(int) const override { return {}; }
    QDateTime Swap;
};

struct TPlaysSent
{
    std::vector<qint64> Ids;
    std::vector<qint64> Tickets;
};

TPlaysSent PlaysSent(const TFakeLink::TState& state, size_t from = 0)
{
    TPlaysSent sent;
    for (size_t i = from; i < state.Sent.size(); ++i)
        if (state.Sent[i].second.Topic.endsWith("/plays")) {
            sent.Ids.push_back(
                QJsonDocument::fromJson(state.Sent[i].second.Payload).object().value("id").toInteger());
            sent.Tickets.push_back(state.Sent[i].first);
        }
    return sent;
}

} // namespace

// The mark moves over acknowledged rows only when every row before them is acknowledged too; what was not
// acknowledged when the link went down is sent again, nothing else; the mark is in the journal.
TEST(FleetNode, TheSentMarkFollowsTheBrokersAcknowledgementsWithoutGaps)
{
    TTempFolder folder;
    const QString path = folder.File("PlayJournal.sqlite");
    {
        TPlayJournal journal(path, {});
        for (int i = 0; i < 5; ++i) {
            TPlayRecord play;
            play.Display.Name = QStringLiteral("Lobby");
            play.VitrelleId = QStringLiteral("welcome");
            play.SlideId = QStringLiteral("s%1").arg(i);
            play.Appeared = QDateTime::currentDateTime();
            journal.Record(play);
        }
    }
    auto state = std::make_shared<TFakeLink::TState>();
    TOneDisplay kiosk;
    TFleetNodeOptions options{QStringLiteral("s"), QStringLiteral("k"), path};
    options.Tick = std::chrono::milliseconds(20);
    auto node = std::make_unique<TFleetNode>(options, kiosk, std::make_unique<TFakeLink>(state));
    state->Up = true;
    state->Events->LinkUp();
    ASSERT_TRUE(ServeEventsUntil([&] { return PlaysSent(*state).Ids.size() == 5; }));
    const TPlaysSent first = PlaysSent(*state);
    EXPECT_EQ(first.Ids, (std::vector<qint64>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(state->Sent.front().second.Topic.endsWith("/status")) << "the status goes first";

    const struct
    {
        size_t Acknowledged; // index into the plays sent
        qint64 Mark;
    } steps[] = {{1, 0}, {2, 0}, {0, 3}};
    for (const auto& step : steps) {
        state->Events->Acknowledged(first.Tickets[step.Acknowledged]);
        EXPECT_EQ(node->SentMark(), step.Mark) << "after row " << first.Ids[step.Acknowledged];
    }
    // Down before rows 4 and 5 were acknowledged: those two are sent again, and only they.
    state->Up = false;
    state->Events->LinkDown(QStringLiteral("gone"));
    const size_t before = state->Sent.size();
    state->Up = true;
    state->Events->LinkUp();
    ASSERT_TRUE(ServeEventsUntil([&] { return PlaysSent(*state, before).Ids.size() == 2; }));
    ServeEventsUntil([] { return false; }, 100);
    const TPlaysSent again = PlaysSent(*state, before);
    EXPECT_EQ(again.Ids, (std::vector<qint64>{4, 5}));
    for (const qint64 ticket : again.Tickets)
        state->Events->Acknowledged(ticket);
    EXPECT_EQ(node->SentMark(), 5);
    // An acknowledgement of the connection before is no news.
    state->Events->Acknowledged(first.Tickets[4]);
    node.reset();
    TFleetPlayStore store(path, QStringLiteral("k"));
    EXPECT_EQ(store.SentMark(), 5);
}

// A display whose status changes at every look goes out at most once per interval.
TEST(FleetNode, ADisplaysStatusGoesOutAtMostOncePerInterval)
{
    auto state = std::make_shared<TFakeLink::TState>();
    TOneDisplay kiosk;
    TFleetNodeOptions options{QStringLiteral("s"), QStringLiteral("k"), {}};
    options.Tick = std::chrono::milliseconds(10);
    options.DisplayStatusInterval = std::chrono::milliseconds(500);
    TFleetNode node(options, kiosk, std::make_unique<TFakeLink>(state));
    state->Up = true;
    state->Events->LinkUp();
    QTimer swaps;
    QObject::connect(&swaps, &QTimer::timeout, [&] { kiosk.Swap = QDateTime::currentDateTime(); });
    swaps.start(5);
    ServeEventsUntil([] { return false; }, 1600);
    int published = 0;
    for (const auto& [ticket, message] : state->Sent)
        published += message.Topic == "vitrelle/v1/s/k/display/1/status";
    // The first at LinkUp, then one per 500 ms.
    EXPECT_GE(published, 3);
    EXPECT_LE(published, 5);
}
