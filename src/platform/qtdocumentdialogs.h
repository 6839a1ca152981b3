#pragma once

#include "documentdialogs.h"

class QtDocumentDialogs final : public DocumentDialogs {
public:
    QString askSavePath(QWidget *parent, const QString &suggestedName) override;
    PrintChoice askPrinter(QWidget *parent, QPrinter *printer, int pageCount) override;
};
