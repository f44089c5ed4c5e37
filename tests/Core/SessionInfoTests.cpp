#include "SessionInfo.h"

#include <gtest/gtest.h>

namespace {
bool Remote(std::initializer_list<std::pair<const char*, const char*>> variables)
{
    QProcessEnvironment environment;
    for (const auto& [name, value] : variables)
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return IsRemoteSession(environment);
}
} // namespace

TEST(SessionInfo, LocalAndRemoteSessions)
{
    EXPECT_FALSE(Remote({}));
    EXPECT_FALSE(Remote({{"DISPLAY", ":0"}}));
    EXPECT_FALSE(Remote({{"DISPLAY", ":0.1"}}));
    EXPECT_FALSE(Remote({{"DISPLAY", "unix:0"}}));
    EXPECT_FALSE(Remote({{"DISPLAY", ":0"}, {"SSH_CONNECTION", ""}}));
    EXPECT_TRUE(Remote({{"DISPLAY", "localhost:10.0"}})) << "X forwarded over SSH";
    EXPECT_TRUE(Remote({{"DISPLAY", "kiosk.example:0"}}));
    EXPECT_TRUE(Remote({{"DISPLAY", ":0"}, {"SSH_CONNECTION", "10.0.0.2 5555 10.0.0.1 22"}}));
    EXPECT_TRUE(Remote({{"DISPLAY", ":10"}, {"XRDP_SESSION", "1"}}));
}
