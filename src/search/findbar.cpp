#include "findbar.h"

#include "deferredicon.h"
#include "webbrowser.h"
#include "widgetnames.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>
#include <QToolButton>

namespace {
QToolButton *button(QWidget *parent, const char *name, const QString &tip,
                    QStyle::StandardPixmap icon)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    b->setIcon(deferredStandardIcon(parent, icon));
    b->setAutoRaise(true);
    return b;
}
} // namespace

FindBar::FindBar(WebBrowser *browser, QWidget *parent)
    : QFrame(parent)
    , txtFind(new QLineEdit(this))
    , lblFindCount(new QLabel(this))
    , m_browser(browser)
{
    setObjectName(QStringLiteral("findBar"));
    setAccessibleName(QStringLiteral("Buscar en la página"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    txtFind->setObjectName(QStringLiteral("txtFind"));
    txtFind->setPlaceholderText(QStringLiteral("Buscar en la página"));
    txtFind->setAccessibleName(QStringLiteral("Texto a buscar en la página"));
    enableNamedClearButton(txtFind);
    txtFind->setMinimumWidth(180);
    lblFindCount->setObjectName(QStringLiteral("lblFindCount"));
    lblFindCount->setAccessibleName(QStringLiteral("Coincidencias"));
    lblFindCount->setMinimumWidth(
        lblFindCount->fontMetrics().horizontalAdvance(QStringLiteral("Sin resultados  ")));
    cmdFindPrevious =
        button(this, "cmdFindPrevious", QStringLiteral("Anterior (Mayús+F3)"), QStyle::SP_ArrowUp);
    cmdFindNext =
        button(this, "cmdFindNext", QStringLiteral("Siguiente (F3)"), QStyle::SP_ArrowDown);
    cmdFindClose =
        button(this, "cmdFindClose", QStringLiteral("Cerrar (Esc)"), QStyle::SP_DialogCloseButton);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 2, 2);
    row->setSpacing(2);
    row->addWidget(txtFind, 1);
    row->addWidget(lblFindCount);
    row->addWidget(cmdFindPrevious);
    row->addWidget(cmdFindNext);
    row->addWidget(cmdFindClose);

    txtFind->installEventFilter(this);
    connect(txtFind, &QLineEdit::textEdited, this, [this] { find(false); });
    connect(cmdFindNext, &QToolButton::clicked, this, &FindBar::findNext);
    connect(cmdFindPrevious, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(cmdFindClose, &QToolButton::clicked, this, &FindBar::closeBar);
    hide();
}

void FindBar::openBar(const QString &text)
{
    show();
    raise();
    if (!text.isEmpty()) {
        txtFind->setText(text);
        find(false);
    }
    txtFind->setFocus(Qt::ShortcutFocusReason);
    txtFind->selectAll();
}

void FindBar::findNext()
{
    find(false);
}

void FindBar::findPrevious()
{
    find(true);
}

void FindBar::closeBar()
{
    ++m_request;
    hide();
    lblFindCount->clear();
    m_browser->FindText(QString(), false, {});
    m_browser->setFocus(Qt::OtherFocusReason);
}

void FindBar::find(bool backward)
{
    const QString text = txtFind->text();
    const int request = ++m_request;
    if (text.isEmpty()) {
        lblFindCount->clear();
        m_browser->FindText(QString(), false, {});
        return;
    }
    QPointer<FindBar> self(this);
    m_browser->FindText(text, backward, [self, request](int active, int total) {
        if (self && request == self->m_request) {
            self->showCount(active, total);
        }
    });
}

void FindBar::showCount(int active, int total)
{
    emit counted(active, total);
    lblFindCount->setText(total == 0 ? QStringLiteral("Sin resultados")
                                     : QStringLiteral("%1 de %2").arg(active).arg(total));
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtFind && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool shift = key->modifiers() & Qt::ShiftModifier;
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            find(shift);
            return true;
        case Qt::Key_Escape:
            closeBar();
            return true;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}
