#include "coolbar.h"

#include "twips.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QVBoxLayout>

CoolBar::CoolBar(QWidget *parent)
    : QFrame(parent)
    , m_rows(new QVBoxLayout(this))
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
    m_rows->setContentsMargins(2, 1, 2, 1);
    m_rows->setSpacing(0);
}

void CoolBar::addBand(const QString &caption, QWidget *child, int minHeightTwips, int widthTwips)
{
    const double dpi = Twips::logicalDpi(this);
    auto *band = new QFrame(this);
    band->setFrameShape(QFrame::NoFrame);
    band->setMinimumHeight(Twips::toPixels(minHeightTwips, dpi));
    band->setMinimumWidth(Twips::toPixels(widthTwips, dpi));
    auto *row = new QHBoxLayout(band);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto *grip = new QFrame(band);
    grip->setFrameShape(QFrame::VLine);
    grip->setFrameShadow(QFrame::Raised);
    grip->setFixedWidth(6);
    row->addWidget(grip);
    if (!caption.isEmpty()) {
        auto *label = new QLabel(caption, band);
        label->setAccessibleName(caption.trimmed());
        label->setBuddy(child);
        row->addWidget(label);
    }
    child->setParent(band);
    row->addWidget(child, 1);
    m_rows->addWidget(band);
}

void CoolBar::setDesignHeight(int twips)
{
    m_designHeight = Twips::toPixels(twips, Twips::logicalDpi(this));
    updateGeometry();
}

QSize CoolBar::sizeHint() const
{
    const QSize hint = QFrame::sizeHint();
    return {hint.width(), qMax(hint.height(), m_designHeight)};
}

QSize CoolBar::minimumSizeHint() const
{
    return sizeHint();
}

void CoolBar::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (event->oldSize().isValid() && event->oldSize().height() != event->size().height()) {
        emit HeightChanged(event->size().height());
    }
}
