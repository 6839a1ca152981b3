#pragma once

#include "collection.h"
#include "platformservices.h"

#include <QObject>
#include <QStringList>

// The quiet check at start-up: at most once a day, the server's signed catalog is fetched in
// the background and, when it verifies with the publisher's key and lists circulars the
// collection lacks, newCirculars tells which. Nothing is shown from here, and a server that
// is not there, answers late or answers with something unsigned is simply no news.
class StartupCheck : public QObject {
    Q_OBJECT
public:
    StartupCheck(PlatformServices services, const Collection &collection,
                 QObject *parent = nullptr);

    // Starts the check when it is turned on and was not made today.
    void start();

    // Whether the reader wants the check (settings, on unless turned off).
    static bool enabled(ProfileFile &profile, const QString &programFolder);
    // False when the settings could not be written.
    static bool setEnabled(ProfileFile &profile, const QString &programFolder, bool on);

signals:
    void newCirculars(const QStringList &numbers);
    // The check ended, with news or without.
    void finished();

private:
    void catalogArrived(const QByteArray &text);
    void signatureArrived(const QByteArray &text, const QByteArray &signature);

    PlatformServices m_services;
    Collection m_collection;
    QString m_prefix;
};
