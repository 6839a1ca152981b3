// The main window's menu entries and handlers for searching the collection and finding
// in the page; the tools themselves are SearchTools.

#include "frmbrowser.h"

#include "findbar.h"
#include "searchpane.h"
#include "searchtools.h"

#include <QAction>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>

void frmBrowser::buildSearch()
{
    // The search field stands at the end of the address band.
    search = new SearchTools(m_services.features, m_collection, WebBrowser1, m_client,
                             txtURL->parentWidget() ? txtURL->parentWidget()->layout() : nullptr,
                             StatusBar1, this);
    connect(search->txtSearch, &QLineEdit::returnPressed, this, &frmBrowser::txtSearch_Return);
    connect(search->searchPane, &SearchPane::hitActivated, this,
            &frmBrowser::searchPane_HitActivated);
    connect(search, &SearchTools::paneToggled, this, &frmBrowser::Form_Resize);

    mnuBuscar = mnuActualiza->addAction(QStringLiteral("Buscar en la colección..."));
    mnuBuscar->setObjectName(QStringLiteral("mnuBuscar"));
    mnuBuscar->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    connect(mnuBuscar, &QAction::triggered, this, &frmBrowser::mnuBuscar_Click);

    // F9 hides the results pane and brings it back.
    mnuResults = mnuActualiza->addAction(QStringLiteral("Mostrar u ocultar los resultados"));
    mnuResults->setObjectName(QStringLiteral("mnuResults"));
    mnuResults->setShortcut(QKeySequence(Qt::Key_F9));
    connect(mnuResults, &QAction::triggered, search, &SearchTools::togglePane);

    mnuFindInPage = new QAction(QStringLiteral("Buscar en la página"), this);
    mnuFindInPage->setObjectName(QStringLiteral("mnuFindInPage"));
    mnuFindInPage->setShortcut(QKeySequence::Find);
    addAction(mnuFindInPage);
    connect(mnuFindInPage, &QAction::triggered, this, &frmBrowser::mnuFindInPage_Click);
    // F3 and Shift+F3 work wherever the keyboard is in the window.
    auto *findNext = new QAction(this);
    findNext->setObjectName(QStringLiteral("mnuFindNext"));
    findNext->setShortcut(QKeySequence(Qt::Key_F3));
    addAction(findNext);
    connect(findNext, &QAction::triggered, this, [this] {
        search->findBar->isVisible() ? search->findBar->findNext() : mnuFindInPage_Click();
    });
    auto *findPrevious = new QAction(this);
    findPrevious->setObjectName(QStringLiteral("mnuFindPrevious"));
    findPrevious->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    addAction(findPrevious);
    connect(findPrevious, &QAction::triggered, this, [this] {
        search->findBar->isVisible() ? search->findBar->findPrevious() : mnuFindInPage_Click();
    });
}

void frmBrowser::reindexCollection()
{
    search->reindex();
}

void frmBrowser::mnuBuscar_Click()
{
    search->txtSearch->setFocus(Qt::ShortcutFocusReason);
    // The earlier query stays, selected, so that typing replaces it; Enter searches.
    search->txtSearch->selectAll();
}

void frmBrowser::mnuFindInPage_Click()
{
    search->findBar->openBar();
}

void frmBrowser::txtSearch_Return()
{
    search->search(search->txtSearch->text());
}

void frmBrowser::searchPane_HitActivated(int index)
{
    search->openHit(index);
}
