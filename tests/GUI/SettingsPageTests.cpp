#include "PageFixture.h"

TEST_F(PageTest, FixtureOpensOnTwoDisplaysWithTheList)
{
    OpenForm();
    EXPECT_EQ(Agent().DeviceCount(), 2);
    EXPECT_EQ(Agent().Repository().Count(), 2);
    for (auto page : {TfrmVitrelleCenter::TPage::Vitrelles, TfrmVitrelleCenter::TPage::Schedule,
                      TfrmVitrelleCenter::TPage::Settings})
        EXPECT_NE(ShowPage(page), nullptr);
    Idle();
}
