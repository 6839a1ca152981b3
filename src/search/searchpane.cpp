#include "searchpane.h"

#include "deferredicon.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int htmlRole = Qt::UserRole + 1;

// Paints an item's rich text, wrapped to the list's width.
class RichTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        item.text.clear();
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

        QTextDocument doc;
        layout(doc, option, index);
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = option.palette;
        if (option.state & QStyle::State_Selected) {
            context.palette.setColor(QPalette::Text,
                                     option.palette.color(QPalette::HighlightedText));
        }
        painter->save();
        painter->translate(option.rect.topLeft() + QPoint(4, 2));
        doc.documentLayout()->draw(painter, context);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QTextDocument doc;
        layout(doc, option, index);
        return {option.rect.width(), static_cast<int>(doc.size().height()) + 6};
    }

private:
    static void layout(QTextDocument &doc, const QStyleOptionViewItem &option,
                       const QModelIndex &index)
    {
        doc.setDefaultFont(option.font);
        doc.setDocumentMargin(2);
        doc.setHtml(index.data(htmlRole).toString());
        const int width = option.widget ? option.widget->width() - 24 : option.rect.width();
        doc.setTextWidth(qMax(120, width));
    }
};

} // namespace

SearchPane::SearchPane(QWidget *parent)
    : QFrame(parent)
    , lblSearchSummary(new QLabel(this))
    , lstResults(new QListWidget(this))
    , cmdSearchClose(new QToolButton(this))
{
    setObjectName(QStringLiteral("searchPane"));
    setAccessibleName(QStringLiteral("Resultados de la búsqueda"));
    setFrameShape(QFrame::StyledPanel);
    lblSearchSummary->setObjectName(QStringLiteral("lblSearchSummary"));
    lblSearchSummary->setWordWrap(true);
    lblSearchSummary->setAccessibleName(QStringLiteral("Resumen de la búsqueda"));
    lstResults->setObjectName(QStringLiteral("lstResults"));
    lstResults->setAccessibleName(QStringLiteral("Resultados"));
    lstResults->setItemDelegate(new RichTextDelegate(lstResults));
    lstResults->setWordWrap(true);
    lstResults->setUniformItemSizes(false);
    lstResults->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    lstResults->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstResults->setResizeMode(QListView::Adjust);
    cmdSearchClose->setObjectName(QStringLiteral("cmdSearchClose"));
    cmdSearchClose->setToolTip(QStringLiteral("Cerrar los resultados"));
    cmdSearchClose->setAccessibleName(QStringLiteral("Cerrar los resultados"));
    cmdSearchClose->setIcon(deferredStandardIcon(this, QStyle::SP_DialogCloseButton));
    cmdSearchClose->setAutoRaise(true);

    auto *header = new QHBoxLayout;
    header->addWidget(lblSearchSummary, 1);
    header->addWidget(cmdSearchClose, 0, Qt::AlignTop);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->addLayout(header);
    column->addWidget(lstResults, 1);

    // A click or Enter opens the result (a style that activates items on a
    // single click already reports the click as an activation).
    connect(lstResults, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { emit hitActivated(lstResults->row(item)); });
    if (!style()->styleHint(QStyle::SH_ItemView_ActivateItemOnSingleClick, nullptr, lstResults)) {
        connect(lstResults, &QListWidget::itemClicked, this,
                [this](QListWidgetItem *item) { emit hitActivated(lstResults->row(item)); });
    }
    connect(cmdSearchClose, &QToolButton::clicked, this, &SearchPane::closeRequested);
}

QString SearchPane::describe(const SearchHit &hit)
{
    QString line = hit.kind;
    if (hit.page > 0) {
        line += QStringLiteral(" · página %1").arg(hit.page);
    }
    if (hit.morePages == 1) {
        line += QStringLiteral(" (y 1 página más)");
    } else if (hit.morePages > 1) {
        line += QStringLiteral(" (y %1 páginas más)").arg(hit.morePages);
    }
    // A circular no longer in force says so; one in force needs no word.
    if (!hit.status.isEmpty() && hit.status != QLatin1String("Vigente")) {
        line += QStringLiteral(" · ") + hit.status;
    }
    return line;
}

QString SearchPane::snippetHtml(const SearchHit &hit)
{
    QString html;
    int at = 0;
    for (const auto &mark : hit.marks) {
        html += hit.snippet.mid(at, mark.first - at).toHtmlEscaped();
        html += QStringLiteral("<b>") + hit.snippet.mid(mark.first, mark.second).toHtmlEscaped() +
                QStringLiteral("</b>");
        at = mark.first + mark.second;
    }
    html += hit.snippet.mid(at).toHtmlEscaped();
    return html;
}

void SearchPane::showSearching(const QString &query)
{
    m_query = query;
    m_hits.clear();
    lstResults->clear();
    lblSearchSummary->setText(QStringLiteral("Buscando «%1»…").arg(query.trimmed()));
}

void SearchPane::showResults(const QString &query, std::vector<SearchHit> hits, bool indexing)
{
    m_query = query;
    m_hits = std::move(hits);
    lstResults->clear();
    const QString quoted = QStringLiteral("«%1»").arg(query.trimmed());
    QString summary = m_hits.empty() ? QStringLiteral("Sin resultados para %1").arg(quoted)
                      : m_hits.size() == 1
                          ? QStringLiteral("1 resultado para %1").arg(quoted)
                          : QStringLiteral("%1 resultados para %2").arg(m_hits.size()).arg(quoted);
    if (indexing) {
        summary += QStringLiteral(" (la colección aún se está indexando)");
    }
    lblSearchSummary->setText(summary);
    for (const SearchHit &hit : m_hits) {
        auto *item = new QListWidgetItem(lstResults);
        // For assistive technologies.
        item->setText(hit.title + u' ' + describe(hit) + u' ' + hit.snippet);
        item->setData(htmlRole, QStringLiteral("<b>%1</b><br><small>%2</small><br>%3")
                                    .arg(hit.title.toHtmlEscaped(), describe(hit).toHtmlEscaped(),
                                         snippetHtml(hit)));
        item->setToolTip(hit.relativePath);
    }
    if (!m_hits.empty()) {
        lstResults->setCurrentRow(0);
    }
}
