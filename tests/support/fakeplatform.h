#pragma once

#include "connectivityprobe.h"
#include "desktopaccessibility.h"
#include "documentdialogs.h"
#include "instanceguard.h"
#include "messageboxes.h"
#include "programrestart.h"
#include "shell.h"
#include "updatefeed.h"
#include "windowplacementstore.h"

#include <QHash>
#include <QList>
#include <QPrinter>
#include <QString>
#include <QUrl>

#include <functional>

class FakeProbe final : public ConnectivityProbe {
public:
    int attemptConnect() override
    {
        ++calls;
        return online ? 0 : 12029;
    }
    bool online = true;
    int calls = 0;
};

class FakeShell final : public Shell {
public:
    struct Call {
        QWidget *owner;
        QString verb, document, parameters, directory;
        int show;
    };
    bool execute(QWidget *owner, const QString &verb, const QString &document,
                 const QString &parameters, const QString &directory, int show) override
    {
        calls.append({owner, verb, document, parameters, directory, show});
        return handlerFound;
    }
    QList<Call> calls;
    bool handlerFound = true; // false: the desktop has no program for the document
};

class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        QWidget *owner;
        QString text;
        MessageIcon icon;
        QString title;
    };
    void show(QWidget *owner, const QString &text, MessageIcon icon, const QString &title) override
    {
        shown.append({owner, text, icon, title});
        if (onShow) {
            onShow();
        }
    }
    QStringList texts() const
    {
        QStringList all;
        for (const Shown &s : shown) {
            all.append(s.text);
        }
        return all;
    }
    QList<Shown> shown;
    std::function<void()> onShow;

    // Boxes with a second button: recorded with the others, that button chosen when
    // takeOffer says so.
    bool offer(QWidget *owner, const QString &text, MessageIcon icon, const QString &title,
               const QString &action) override
    {
        offered.append(action);
        show(owner, text, icon, title);
        return takeOffer;
    }
    QStringList offered;
    bool takeOffer = false;

    // Questions, answered with answer.
    bool ask(QWidget *owner, const QString &text, const QString &title) override
    {
        asked.append({owner, text, MessageIcon::Information, title});
        return answer;
    }
    QList<Shown> asked;
    bool answer = false;
};

class FakeProgramRestart final : public ProgramRestart {
public:
    bool restart() override
    {
        ++restarts;
        return works;
    }
    int restarts = 0;
    bool works = true;
};

class FakeInstanceGuard final : public InstanceGuard {
public:
    bool previousInstance() override { return running; }
    void release() override { ++released; }
    int released = 0;
    bool running = false;
};

class FakeWindowPlacementStore final : public WindowPlacementStore {
public:
    QByteArray load() const override { return stored; }
    bool save(const QByteArray &placement) override
    {
        stored = placement;
        return true;
    }
    QByteArray stored;
};

class FakeDocumentDialogs final : public DocumentDialogs {
public:
    QString askSavePath(QWidget *, const QString &suggestedName) override
    {
        suggested.append(suggestedName);
        return savePath;
    }
    PrintChoice askPrinter(QWidget *, QPrinter *printer, int pageCount) override
    {
        ++printAsked;
        offeredPages = pageCount;
        if (printFile.isEmpty()) {
            return PrintChoice::Cancelled;
        }
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printFile);
        if (fromPage > 0) {
            printer->setPrintRange(QPrinter::PageRange);
            printer->setFromTo(fromPage, toPage);
        }
        printer->setCopyCount(copies);
        printer->setCollateCopies(collate);
        printer->setPageOrientation(orientation);
        printer->setPageOrder(lastPageFirst ? QPrinter::LastPageFirst : QPrinter::FirstPageFirst);
        return choice;
    }
    QString savePath;
    QStringList suggested;
    QString printFile;            // where an accepted print goes; empty: the user cancels
    int fromPage = 0, toPage = 0; // the range chosen; 0: every page
    int copies = 1;
    bool collate = true;
    bool lastPageFirst = false;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    // File: the dialog's print to a file; Printer: a printer, which writes the PDF file
    // printFile as a real one gets its pages (drawn at its resolution).
    PrintChoice choice = PrintChoice::File;
    int printAsked = 0;
    int offeredPages = 0;
};

// The desktop's accessibility, turned on and off by the test.
class FakeDesktopAccessibility final : public DesktopAccessibility {
public:
    bool isOn() const override { return on; }
    void turn(bool value)
    {
        on = value;
        emit changed(on);
    }
    bool on = false;
};

// An update server that is never there unless answers says otherwise; records what was
// asked.
class FakeUpdateFeed final : public UpdateFeed {
public:
    void fetch(const QUrl &address, qint64,
               std::function<void(std::optional<QByteArray>)> done) override
    {
        asked.append(address);
        const auto answer = answers.constFind(address.toString());
        done(answer == answers.constEnd() ? std::nullopt : std::optional<QByteArray>(*answer));
    }
    QHash<QString, QByteArray> answers;
    QList<QUrl> asked;
};
