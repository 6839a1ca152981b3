#pragma once

#include "collectionid.h"
#include "instancechannel.h"

#include <QLocalServer>

// The instance channel on a local (Unix) socket beside the instance lock, in the user's
// runtime folder, named from the collection's identity and open to this user alone. A
// request is one line (instancerequest.h); the running copy answers "ok" to a request it
// takes and drops anything else, and a connection that stays silent for a few seconds.
class LocalSocketInstanceChannel final : public InstanceChannel {
    Q_OBJECT
public:
    // patienceMs bounds how long send() waits for a copy that is still starting, and for
    // its answer.
    explicit LocalSocketInstanceChannel(const CollectionId &collection, int patienceMs = 10000,
                                        QObject *parent = nullptr);

    bool listen() override;
    bool send(const QString &document) override;

    // Where the socket of collection lives.
    static QString socketPathFor(const CollectionId &collection);

private:
    void takeConnections();

    CollectionId m_collection;
    int m_patienceMs;
    QLocalServer m_server;
};
