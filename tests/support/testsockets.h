#pragma once
// Socket objects for engine tests that need the connect wait under control.
#include "engine/downsocket.h"

// Never connects: the wait can only end by time-out, stop or error.
class NeverConnectSocket : public DownSocket {
public:
    using DownSocket::DownSocket;
    void Connect() override { state_ = Connecting; }
    void Close() override { state_ = Closed; }
};

// A real socket whose connected state stays hidden while the gate is shut (as
// it starts), so a test can act inside a connect wait that has already connected.
class GateSocket : public DownSocket {
public:
    using DownSocket::DownSocket;
    bool gateShut = true;
    int State() const override
    {
        return gateShut && DownSocket::State() == Connected ? int(Connecting)
                                                            : DownSocket::State();
    }
};
