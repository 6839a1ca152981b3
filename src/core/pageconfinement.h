#pragma once

#include "collection.h"

#include <QUrl>

// What a page of the collection may reach. A page shown from the collection
// runs the publisher's scripts with the reader's rights, so it is kept to the
// collection: it reads only files of the collection's folders, and it reaches
// the network only where the reader sends it.

// Whether a page may load url as a file: a regular file (or one not there yet)
// that lies, once every link on its way is followed, inside the program folder
// or the per-user folder. Never a folder, never a file of another host, never
// a path that only names the collection on its way out ("..", "%2F").
bool collectionMayServe(const Collection &collection, const QUrl &url);

// Whether a document at url counts as a page of the collection (or of the
// blank page before it): what it asks for is held to the collection.
bool isCollectionPage(const QUrl &url);

// Addresses no page is ever shown at: the engine's own pages and a page's source.
bool isEnginePage(const QUrl &url);

// How a navigation came about.
enum class NavigationCause {
    Program,   // the program's own loading: address bar, toolbar, commands
    History,   // back, forward or reload
    Link,      // a link followed, or a script setting the address
    NewWindow, // a link or script asking for a new window
    Form,      // a form sent
    Redirect,  // a redirect, by the server or by the page while loading
    Other,
};

struct NavigationFacts {
    QUrl from; // the address of the page on screen
    QUrl to;
    bool mainFrame = true;
    NavigationCause cause = NavigationCause::Other;
    // The reader chose exactly this address: the link under the pointer or
    // the keyboard's focus at a click or key, or a link's menu entry.
    bool chosenByReader = false;
    // A navigation the reader started away from the collection is under way.
    bool readerNavigationPending = false;
};

// Whether a navigation may happen. From a page of the collection, the page
// leaves the collection (for the web, or for an outside program through
// another scheme) only at the reader's request: a link the reader chose, the
// program's own loading, history, and the redirects of a navigation the reader
// started. Frames of a collection page stay in the collection.
bool navigationAllowed(const NavigationFacts &facts);
