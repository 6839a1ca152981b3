#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

// Watches for modal windows while a test drives a window that opens them, notes
// each one as "<objectName> before <count>" (count: what probe() answered
// then; a check box named chkmostrar adds " ticked" or " unticked") and closes it.
class ModalCloser : public QObject {
public:
    explicit ModalCloser(std::function<int()> probe = {})
        : m_probe(std::move(probe))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal) {
                return;
            }
            QString note = modal->objectName();
            if (m_probe) {
                note += QStringLiteral(" before ") + QString::number(m_probe());
            }
            if (const auto *box = modal->findChild<QCheckBox *>(QStringLiteral("chkmostrar"))) {
                note += box->isChecked() ? QStringLiteral(" ticked") : QStringLiteral(" unticked");
            }
            seen.append(note);
            modal->close();
        });
        m_timer.start(20);
    }

    QStringList seen;

private:
    std::function<int()> m_probe;
    QTimer m_timer;
};
