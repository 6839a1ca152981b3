#pragma once

#include <QObject>
#include <QString>

// The line between the copy of the program that runs for a collection and a later start
// for the same collection, which asks it to come to the front (and to open a document)
// and then ends.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // In the running copy: takes the requests of later starts from now on. False when it
    // cannot; later starts then find nobody to ask.
    virtual bool listen() = 0;

    // In a later start: asks the running copy to come to the front and to open document
    // (a path within the collection, "circulares/1001.pdf"; empty for none). False when
    // no running copy took the request.
    virtual bool send(const QString &document) = 0;

signals:
    // A later start asked this copy to come to the front and to open document (empty for
    // none). The document is only as the request named it: check it before opening it.
    void requested(const QString &document);
};
