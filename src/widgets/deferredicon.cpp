#include "deferredicon.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>
#include <QWidget>

namespace {
class DeferredStandardIconEngine final : public QIconEngine {
public:
    DeferredStandardIconEngine(const QWidget *widget, QStyle::StandardPixmap which)
        : m_widget(const_cast<QWidget *>(widget))
        , m_which(which)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, 1.0, mode, state);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return icon().pixmap(size / scale, scale, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return icon().name(); }
    // Asked while the button holding the icon is laid out: answered without the lookup.
    bool isNull() override { return m_resolved && m_icon.isNull(); }
    QString key() const override { return QStringLiteral("DeferredStandardIcon"); }
    QIconEngine *clone() const override
    {
        auto *copy = new DeferredStandardIconEngine(m_widget, m_which);
        copy->m_icon = m_icon;
        copy->m_resolved = m_resolved;
        return copy;
    }

private:
    const QIcon &icon()
    {
        if (!m_resolved) {
            m_resolved = true;
            const QStyle *style = m_widget ? m_widget->style() : QApplication::style();
            m_icon = style ? style->standardIcon(m_which, nullptr, m_widget) : QIcon();
        }
        return m_icon;
    }

    QPointer<QWidget> m_widget;
    QStyle::StandardPixmap m_which;
    QIcon m_icon;
    bool m_resolved = false;
};
} // namespace

QIcon deferredStandardIcon(const QWidget *widget, QStyle::StandardPixmap which)
{
    return QIcon(new DeferredStandardIconEngine(widget, which));
}
