#pragma once

#include <QFrame>

class QLabel;
class QLineEdit;
class QToolButton;
class WebBrowser;

// The find bar of the page on screen: a text field, the count of matches
// ("3 de 17", "Sin resultados"), previous and next, and a close button. It
// finds through the browser, so it works on pages and on PDF documents shown
// in the browser alike. Enter and F3 go to the next match, Shift+Enter and
// Shift+F3 to the previous one, Escape closes the bar.
class FindBar : public QFrame {
    Q_OBJECT
public:
    FindBar(WebBrowser *browser, QWidget *parent = nullptr);

    // Shows the bar with the keyboard in its field; with a text, finds it.
    void openBar(const QString &text = QString());
    void findNext();
    void findPrevious();
    // Hides the bar, takes the marks off the page and gives the keyboard back
    // to the page.
    void closeBar();

    QLineEdit *txtFind;
    QToolButton *cmdFindPrevious;
    QToolButton *cmdFindNext;
    QToolButton *cmdFindClose;
    QLabel *lblFindCount;

signals:
    // The browser counted the matches of the text in the field.
    void counted(int active, int total);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void find(bool backward);
    void showCount(int active, int total);

    WebBrowser *m_browser;
    // Answers of the browser to earlier requests are ignored once a newer
    // one has gone out.
    int m_request = 0;
};
