#include "qtmessageboxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
QMessageBox::Icon qtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}
} // namespace

void QtMessageBoxes::show(QWidget *owner, const QString &text, MessageIcon icon,
                          const QString &title)
{
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("messageBox"));
    // Texts carry names from outside (titles from the network, file names): never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtMessageBoxes::offer(QWidget *owner, const QString &text, MessageIcon icon,
                           const QString &title, const QString &action)
{
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setTextFormat(Qt::PlainText);
    QPushButton *chosen = box.addButton(action, QMessageBox::ActionRole);
    chosen->setObjectName(QStringLiteral("btnOffer"));
    box.setDefaultButton(chosen);
    box.exec();
    return box.clickedButton() == chosen;
}

bool QtMessageBoxes::ask(QWidget *owner, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}
