#pragma once
// A socket object for engine tests that need the connect wait under control.
#include "engine/downsocket.h"

// A real socket that hides its first connection: it reads as connecting until
// it is closed, so a test can act inside a connect wait that has connected.
class GateSocket : public DownSocket {
public:
    using DownSocket::DownSocket;
    int State() const override
    {
        const int state = DownSocket::State();
        return shut && state == Connected ? int(Connecting) : state;
    }
    void Close() override { shut = false, DownSocket::Close(); }
    bool shut = true;
};
