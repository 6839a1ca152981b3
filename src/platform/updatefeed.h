#pragma once

#include <QByteArray>
#include <QUrl>

#include <functional>
#include <optional>

// Fetches small files from the update server in the background, for the quiet check at
// start-up: nothing waits for the answer, and a server that does not answer is simply no
// answer.
class UpdateFeed {
public:
    virtual ~UpdateFeed() = default;

    // Fetches address; done gets its body once it has all arrived, or nullopt when the
    // server could not be reached, answered with an error, took too long or sent more
    // than limit bytes. done is called once, later, on the caller's thread.
    virtual void fetch(const QUrl &address, qint64 limit,
                       std::function<void(std::optional<QByteArray>)> done) = 0;
};
