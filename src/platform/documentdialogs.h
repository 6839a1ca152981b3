#pragma once

#include <QString>

class QPrinter;
class QWidget;

// What the user chose in the print dialog: nothing, a printer, or a file of the printer's
// output file name.
enum class PrintChoice { Cancelled, Printer, File };

// The host's dialogs for saving and printing the page on screen.
class DocumentDialogs {
public:
    virtual ~DocumentDialogs() = default;

    // The path chosen to save a page under, or an empty text when cancelled.
    virtual QString askSavePath(QWidget *parent, const QString &suggestedName) = 0;
    // Sets up printer with the user's choices and answers where the print goes. A
    // document of pageCount pages (0 when unknown) offers that range to choose from.
    virtual PrintChoice askPrinter(QWidget *parent, QPrinter *printer, int pageCount) = 0;
};
