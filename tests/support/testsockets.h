#pragma once
// Socket objects for engine tests that need a slot's thread under control.
#include "engine/downsocket.h"

#include <QSemaphore>

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

// A real socket whose first read that brings bytes hangs until the gate is
// released: a slot's thread that does not answer. `hung` is released as it
// begins to hang.
class HangSocket : public DownSocket {
public:
    HangSocket(QSemaphore &hung, QSemaphore &gate, int index, QObject *parent)
        : DownSocket(index, parent), hung_(hung), gate_(gate)
    {}
    QByteArray GetData() override
    {
        QByteArray data = DownSocket::GetData();
        if (!data.isEmpty() && !hanging_)
            hanging_ = true, hung_.release(), gate_.acquire();
        return data;
    }

private:
    QSemaphore &hung_, &gate_;
    bool hanging_ = false;
};
