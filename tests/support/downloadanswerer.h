#pragma once

#include <QApplication>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>

// Answers the download dialog, once it carries the program's title, with one of
// its buttons ("saveButton" or "cancelButton"), and notes every title it saw.
class DownloadAnswerer : public QObject {
public:
    explicit DownloadAnswerer(const char *button)
    {
        connect(&m_timer, &QTimer::timeout, this, [this, button] {
            const auto windows = QApplication::topLevelWidgets();
            for (QWidget *w : windows) {
                if (w->isVisible() &&
                    w->property("windowClass").toString() == QLatin1String("#32770")) {
                    titles.append(w->windowTitle());
                    if (auto *b = w->findChild<QPushButton *>(QLatin1String(button));
                        b && b->isEnabled() && w->windowTitle() == QLatin1String("Legisdisco")) {
                        QTest::mouseClick(b, Qt::LeftButton);
                    }
                }
            }
        });
        m_timer.start(50);
    }
    QStringList titles;

private:
    QTimer m_timer;
};
