#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the program reads of the page a browser has loaded, taken once the page
// has finished loading.
struct HtmlDocument {
    bool present = false; // a document has been loaded and could be read
    bool hasBody = false;
    // For each <label> element in document order, the nodeValue of each of its
    // child nodes; a node without a value (an element) gives a null QString.
    QList<QStringList> labelChildValues;
    // The href of each link (document.links), in document order.
    QStringList links;
    // The text of the whole document (textContent): what it says, such as a file's size.
    QString text = QString();
};
