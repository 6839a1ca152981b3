#pragma once

#include <QString>

class QPrinter;
class QWidget;

// The host's dialogs for saving and printing the page on screen.
class DocumentDialogs {
public:
    virtual ~DocumentDialogs() = default;

    // The path chosen to save a page under, or an empty text when cancelled.
    virtual QString askSavePath(QWidget *parent, const QString &suggestedName) = 0;
    // Sets up printer with the user's choices; false when cancelled. A document of
    // pageCount pages (0 when unknown) offers that range to choose from.
    virtual bool askPrinter(QWidget *parent, QPrinter *printer, int pageCount) = 0;
};
