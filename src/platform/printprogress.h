#pragma once

#include <QProgressDialog>

// How far printing a document has come, page by page, with "Cancelar" to stop it; shown
// only when printing takes a moment, modal to the window it prints from.
class PrintProgress final : public QProgressDialog {
    Q_OBJECT
public:
    PrintProgress(const QString &documentName, int pages, QWidget *parent = nullptr);

    // Takes done of total pages; false once the user has asked to stop.
    bool advance(int done, int total);
};
