#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

// The main window's quiet word that the update server has circulars the collection lacks:
// a strip in the status bar that never takes the focus or waits for an answer.
class UpdateNotice : public QFrame {
    Q_OBJECT
public:
    explicit UpdateNotice(QWidget *parent = nullptr);

    // Shows "Hay N circulares nuevas."
    void announce(int count);

    QLabel *lblAviso;
    QPushButton *btnAviso;       // opens the update window
    QPushButton *btnCerrarAviso; // puts the notice away

signals:
    void openUpdates();
};
