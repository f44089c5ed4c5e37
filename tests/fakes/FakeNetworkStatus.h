#pragma once

#include "HttpDownloader.h"

#include <atomic>

// A network that is there until the test pulls the cable.
class TFakeNetworkStatus : public INetworkStatus
{
public:
    bool IsConnectedToInternet() const override { return Online.load(); }
    std::atomic<bool> Online{true};
};
