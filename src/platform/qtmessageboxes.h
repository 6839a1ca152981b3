#pragma once

#include "messageboxes.h"

class QtMessageBoxes final : public MessageBoxes {
public:
    void show(QWidget *owner, const QString &text, MessageIcon icon, const QString &title) override;
    bool offer(QWidget *owner, const QString &text, MessageIcon icon, const QString &title,
               const QString &action) override;
    bool ask(QWidget *owner, const QString &text, const QString &title) override;
};
