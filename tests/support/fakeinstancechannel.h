#pragma once

#include "instancechannel.h"

#include <QStringList>

// Records what is asked of it; tests raise requested by hand.
class FakeInstanceChannel final : public InstanceChannel {
    Q_OBJECT
public:
    bool listen() override
    {
        ++listens;
        return true;
    }
    bool send(const QString &document) override
    {
        sent.append(document);
        return answered;
    }

    int listens = 0;
    QStringList sent;
    bool answered = true;
};
