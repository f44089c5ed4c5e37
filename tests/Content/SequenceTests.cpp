#include "ContentFixture.h"
#include "Enumerators.h"
#include "Sequence.h"

#include <deque>

namespace {

// Walks a vitrelle the way a player does: its own wrapper item (in order, one slide a visit), MoveNext and
// then GetCurrent at every step.
class TPlayerWalk
{
public:
    explicit TPlayerWalk(TVitrelle* vitrelle)
    {
        FWrapper.Count = 1;
        FEnumerator = static_cast<TVitrelleEnumerator*>(FWrapper.GetEnumerator(vitrelle));
    }
    QStringList Steps(int count)
    {
        QStringList ids;
        for (int i = 0; i < count; ++i) {
            FEnumerator->MoveNext();
            const TDiapositive* slide = FEnumerator->GetCurrent();
            ids << (slide ? slide->Id : QStringLiteral("-"));
        }
        return ids;
    }
    TVitrelleEnumerator* Enumerator() const { return FEnumerator; }

private:
    TVitrelleSequenceItem FWrapper;
    TVitrelleEnumerator* FEnumerator;
};

class Sequences : public ContentTest
{
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        RegisterTypesAB();
    }
    // Slides a0..a(n-1) of type A, then the given extra content.
    std::shared_ptr<TVitrelle> WithSlides(int typeA, int typeB, const QByteArray& extra)
    {
        QByteArray content = "<Vitrelle>";
        for (int i = 0; i < typeA; ++i)
            content += "<Diapositive id=\"a" + QByteArray::number(i) + "\" type=\"A\"/>";
        for (int i = 0; i < typeB; ++i)
            content += "<Diapositive id=\"b" + QByteArray::number(i) + "\" type=\"B\"/>";
        return Load(content + extra + "</Vitrelle>");
    }
};

} // namespace

TEST_F(Sequences, WithoutSequenceSlidesPlayInFileOrder)
{
    auto vitrelle =
        Load("<Vitrelle><Diapositive id=\"s0\"/><Diapositive id=\"s1\"/><Diapositive id=\"s2\"/></Vitrelle>");
    EXPECT_EQ(TPlayerWalk(vitrelle.get()).Steps(5), QStringList({"s0", "s1", "s2", "s0", "s1"}));
}

TEST_F(Sequences, AnItemPlaysItsCountAndResumesWhereItStopped)
{
    auto vitrelle =
        WithSlides(5, 0, "<Sequence><playDiapositive type=\"a\" nbDiapositive=\"3\"/></Sequence>");
    EXPECT_EQ(TPlayerWalk(vitrelle.get()).Steps(10),
              QStringList({"a0", "a1", "a2", "a2", "a3", "a4", "a4", "a0", "a1", "a1"}));
}

TEST_F(Sequences, ItemsTakeTurns)
{
    auto vitrelle =
        WithSlides(2, 2, "<Sequence><playDiapositive type=\"A\"/><PLAYDIAPOSITIVE type=\"B\"/></Sequence>");
    TPlayerWalk walk(vitrelle.get());
    EXPECT_FALSE(walk.Enumerator()->MoveNext()) << "the first step only enters the sequence";
    EXPECT_EQ(walk.Enumerator()->GetCurrent()->Id, "a0");
    EXPECT_EQ(walk.Steps(3), QStringList({"b0", "a0", "b0"})) << "a count of 1 never advances an item";
}

TEST_F(Sequences, SlideByIdAndEmptySelections)
{
    auto byId = WithSlides(3, 0, "<Sequence><playDiapositive id=\"A1\" nbDiapositive=\"2\"/></Sequence>");
    EXPECT_EQ(TPlayerWalk(byId.get()).Steps(4), QStringList({"a1", "a1", "a1", "a1"}));
    auto neither = WithSlides(3, 0, "<Sequence><playDiapositive/></Sequence>");
    EXPECT_EQ(TPlayerWalk(neither.get()).Steps(2), QStringList({"-", "-"}));
}

TEST_F(Sequences, AttributesOutOfRangeOrUnreadableFallBack)
{
    auto vitrelle = WithSlides(
        1, 0,
        "<Sequence duration=\"5000\"><playDiapositive type=\"A\" nbDiapositive=\"0\"/>"
        "<playDiapositive nbDiapositive=\"-5\"/><playDiapositive nbDiapositive=\"abc\"/>"
        "<playVitrelle name=\"n\" order=\"Random\" duration=\"x\"/>"
        "<playVitrelle order=\"random\" duration=\"250\" nbDiapositive=\"4\"/><other/></Sequence>");
    const TSequence* sequence = vitrelle->Sequence();
    ASSERT_EQ(sequence->Items().size(), 5u);
    EXPECT_EQ(sequence->Duration, 5000);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(sequence->Items()[i]->Count, 1) << i;
    const auto* third = static_cast<const TVitrelleSequenceItem*>(sequence->Items()[3].get());
    EXPECT_EQ(third->Order, soInOrder) << "only exactly \"random\" means random";
    EXPECT_EQ(third->Duration, -1);
    const auto* fourth = static_cast<const TVitrelleSequenceItem*>(sequence->Items()[4].get());
    EXPECT_EQ(fourth->Order, soRandom);
    EXPECT_EQ(fourth->Duration, 1000) << "below 1 s plays 1 s";
    EXPECT_EQ(fourth->Count, 4);
    const QStringList reports = Log.Lines().filter("slide duration");
    ASSERT_EQ(reports.size(), 1) << Log.Lines().join('\n').toStdString();
    EXPECT_TRUE(reports[0].startsWith("[2] TSequence: Vitrelle file ")) << reports[0].toStdString();
    EXPECT_TRUE(reports[0].endsWith(": a slide duration of 250 ms is below 1 s; slides play 1000 ms"))
        << reports[0].toStdString();

    auto plain = WithSlides(1, 0, "<Sequence/>");
    EXPECT_EQ(plain->Sequence()->Duration, -1);
}

TEST_F(Sequences, MissingNestedVitrellesAreSkipped)
{
    WriteVitrelle("inner.xml",
                  "<Vitrelle name=\"Inner\"><Diapositive id=\"i0\"/><Diapositive id=\"i1\"/></Vitrelle>");
    const QByteArray nested = "<Vitrelle xml=\"" + Folder.File("inner.xml").toUtf8() + "\"/>";
    auto vitrelle = WithSlides(1, 0,
                               nested + "<Sequence><playVitrelle name=\"Missing\" nbDiapositive=\"3\"/>"
                                        "<playVitrelle name=\"inner\" nbDiapositive=\"2\"/></Sequence>");
    EXPECT_EQ(TPlayerWalk(vitrelle.get()).Steps(6), QStringList({"i0", "i1", "i1", "i0", "i0", "i1"}));

    auto onlyMissing = WithSlides(
        2, 0, "<Sequence><playVitrelle name=\"Missing\"/><playVitrelle name=\"Gone\"/></Sequence>");
    EXPECT_EQ(TPlayerWalk(onlyMissing.get()).Steps(3), QStringList({"-", "-", "-"}));
}

TEST_F(Sequences, RandomOrderDrawsFromTheNestedSlides)
{
    WriteVitrelle("inner.xml",
                  "<Vitrelle name=\"Inner\"><Diapositive id=\"i0\"/><Diapositive id=\"i1\"/></Vitrelle>");
    std::deque<int> draws = {1, 1, 0, 1};
    SetRandomSource([&](int bound) {
        EXPECT_EQ(bound, 2);
        const int next = draws.front();
        draws.pop_front();
        return next;
    });
    auto vitrelle = Load("<Vitrelle><Vitrelle xml=\"" + Folder.File("inner.xml").toUtf8() +
                         "\"/><Sequence><playVitrelle name=\"Inner\" order=\"random\" "
                         "nbDiapositive=\"4\"/></Sequence></Vitrelle>");
    EXPECT_EQ(TPlayerWalk(vitrelle.get()).Steps(5), QStringList({"i0", "i1", "i1", "i0", "i0"}));
}

TEST_F(Sequences, DurationComesFromTheItemThenTheSequence)
{
    auto vitrelle = WithSlides(1, 0, "<Sequence duration=\"7000\"><playDiapositive type=\"A\"/></Sequence>");
    TVitrelleSequenceItem timed;
    timed.Duration = 3000;
    EXPECT_EQ(static_cast<TVitrelleEnumerator*>(timed.GetEnumerator(vitrelle.get()))->Duration(), 3000);
    TVitrelleEnumerator withoutItem(vitrelle.get(), nullptr);
    EXPECT_EQ(withoutItem.Duration(), 7000);
    TVitrelleSequenceItem untimed; // how a player wraps the vitrelle it plays
    EXPECT_EQ(static_cast<TVitrelleEnumerator*>(untimed.GetEnumerator(vitrelle.get()))->Duration(), 7000);
    TVitrelleEnumerator nothing(nullptr, nullptr);
    EXPECT_EQ(nothing.Duration(), -1);
    EXPECT_EQ(nothing.GetCurrent(), nullptr);
    EXPECT_FALSE(nothing.MoveNext());
}

TEST_F(Sequences, PlayersShareTheSequencePositionsAndSurviveReloads)
{
    auto vitrelle =
        WithSlides(4, 0, "<Sequence><playDiapositive type=\"A\" nbDiapositive=\"2\"/></Sequence>");
    TPlayerWalk first(vitrelle.get());
    TPlayerWalk second(vitrelle.get());
    EXPECT_EQ(first.Steps(2), QStringList({"a0", "a1"}));
    // The item's enumerator is shared: the second player continues from there.
    EXPECT_EQ(second.Steps(2), QStringList({"a1", "a2"}));

    // Reloaded in place: the players' own positions stay, the new items start from the beginning.
    ASSERT_TRUE(vitrelle->LoadFromFile(Folder.File("v.xml")));
    EXPECT_EQ(first.Steps(3), QStringList({"a0", "a1", "a1"}));

    // A shorter reload leaves no position out of range.
    WriteVitrelle("v.xml", "<Vitrelle><Diapositive id=\"z\" type=\"A\"/></Vitrelle>");
    ASSERT_TRUE(vitrelle->LoadFromFile(Folder.File("v.xml")));
    EXPECT_EQ(first.Steps(2), QStringList({"z", "z"}));
    WriteVitrelle("v.xml", "<Vitrelle/>");
    ASSERT_TRUE(vitrelle->LoadFromFile(Folder.File("v.xml")));
    EXPECT_EQ(first.Steps(1), QStringList({"-"}));
}

TEST_F(Sequences, ACachedEnumeratorFollowsItsVitrelle)
{
    auto one = WithSlides(1, 0, "");
    auto other = Load("<Vitrelle><Diapositive id=\"x\"/></Vitrelle>", "other.xml");
    TVitrelleSequenceItem item;
    TEnumerator* first = item.GetEnumerator(one.get());
    EXPECT_EQ(item.GetEnumerator(one.get()), first);
    TEnumerator* second = item.GetEnumerator(other.get());
    EXPECT_EQ(second->Owner, other.get());
}

namespace {

struct THugeCountCase
{
    const char* Sequence;
    QStringList Expected;
};

class HugeCounts : public Sequences, public ::testing::WithParamInterface<THugeCountCase>
{
};

} // namespace

// The counts come from the server: an item whose nested vitrelle does not exist must be skipped at once,
// whatever its count, and counts whose sum passes the integer range must not overflow.
TEST_P(HugeCounts, MissingNestedVitrellesAreSkippedAtOnce)
{
    auto vitrelle = WithSlides(2, 0, GetParam().Sequence);
    EXPECT_EQ(TPlayerWalk(vitrelle.get()).Steps(4), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, HugeCounts,
    ::testing::Values(
        THugeCountCase{"<Sequence><playVitrelle name=\"Missing\" nbDiapositive=\"2147483647\"/></Sequence>",
                       {"-", "-", "-", "-"}},
        THugeCountCase{"<Sequence><playVitrelle name=\"Missing\" nbDiapositive=\"2147483647\"/>"
                       "<playVitrelle name=\"Gone\" nbDiapositive=\"2147483647\"/></Sequence>",
                       {"-", "-", "-", "-"}},
        THugeCountCase{"<Sequence><playVitrelle name=\"Missing\" nbDiapositive=\"2147483647\"/>"
                       "<playDiapositive type=\"A\" nbDiapositive=\"2\"/></Sequence>",
                       {"a0", "a1", "a1", "a0"}},
        THugeCountCase{"<Sequence><playDiapositive type=\"A\"/>"
                       "<playVitrelle name=\"Missing\" nbDiapositive=\"2147483647\"/></Sequence>",
                       {"a0", "a0", "a0", "a0"}}));
