#include "firstdialog.h"
#include "frmactualiza.h"
#include "frmbrowser.h"
#include "frmdatos.h"
#include "frmproxytest.h"
#include "testplatform.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// Every control of a window carries a name for assistive technologies.
class TestAccessibleNames : public QObject {
    Q_OBJECT

    // The controls of window without an accessible name: every widget named by
    // the window but plain containers, and every visible label, button, box,
    // list and frame.
    static QStringList unnamed(QWidget *window)
    {
        QStringList missing;
        const QList<QWidget *> widgets = window->findChildren<QWidget *>();
        for (QWidget *widget : widgets) {
            const QString name = widget->objectName();
            // Plain containers (the main window's client area) are not controls.
            const bool named = !name.isEmpty() && !name.startsWith(QLatin1String("qt_")) &&
                               widget->metaObject() != &QWidget::staticMetaObject;
            const bool control =
                widget->isVisibleTo(window) &&
                (qobject_cast<QLabel *>(widget) || qobject_cast<QAbstractButton *>(widget) ||
                 qobject_cast<QLineEdit *>(widget) || qobject_cast<QAbstractItemView *>(widget) ||
                 qobject_cast<QGroupBox *>(widget));
            if ((named || control) && widget->accessibleName().isEmpty()) {
                missing.append(QStringLiteral("%1 (%2)").arg(
                    name, QLatin1String(widget->metaObject()->className())));
            }
        }
        return missing;
    }

private slots:
    void mainWindow()
    {
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.show();
        const QStringList missing = unnamed(&window);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
        QCOMPARE(window.txtURL->accessibleName(), QStringLiteral("Dirección"));
    }

    void userDataForm()
    {
        TestPlatform p;
        frmDatos form(p.profile, p.messages, p.folder(), nullptr);
        form.show();
        const QStringList missing = unnamed(&form);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
        QCOMPARE(form.txtNombre->accessibleName(), QStringLiteral("Nombre"));
    }

    void firstRunOffer()
    {
        TestPlatform p;
        firstDialog prompt(p.profile, p.shell, p.messages, p.folder(), nullptr);
        prompt.show();
        const QStringList missing = unnamed(&prompt);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
        QCOMPARE(prompt.OKButton->accessibleName(), QStringLiteral("Sí"));
    }

    void updateWindow()
    {
        TestPlatform p;
        frmActualiza updates(p.withFakeBrowser(), p.folder(), nullptr);
        updates.show();
        const QStringList missing = unnamed(&updates);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
        QCOMPARE(updates.btnOK->accessibleName(), QStringLiteral("Revisar Actualizaciones"));
    }

    void proxyDialog()
    {
        TestPlatform p;
        frmProxyTest dialog(p.proxyStore, p.messages, nullptr);
        dialog.show();
        const QStringList missing = unnamed(&dialog);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
        QCOMPARE(dialog.txtSocksPort->accessibleName(), QStringLiteral("Puerto Socks"));
    }
};

QTEST_MAIN(TestAccessibleNames)
#include "tst_accessiblenames.moc"
