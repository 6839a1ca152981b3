#pragma once

#include <QFrame>

class QVBoxLayout;

// A bar of bands, each holding one control behind an optional caption. Every
// band starts a row of its own. Raises HeightChanged when the bands rearrange
// and the bar's height changes.
class CoolBar : public QFrame {
    Q_OBJECT
public:
    explicit CoolBar(QWidget *parent = nullptr);

    // Adds a band below the others; heights and widths in twips.
    void addBand(const QString &caption, QWidget *child, int minHeightTwips, int widthTwips);
    // Sets the height the bar keeps while its bands need no more.
    void setDesignHeight(int twips);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void HeightChanged(int height);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QVBoxLayout *m_rows;
    int m_designHeight = 0;
};
