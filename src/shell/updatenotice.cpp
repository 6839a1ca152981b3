#include "updatenotice.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

UpdateNotice::UpdateNotice(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("frmAviso"));
    setFrameShape(QFrame::NoFrame);
    lblAviso = new QLabel(this);
    lblAviso->setObjectName(QStringLiteral("lblAviso"));
    lblAviso->setTextFormat(Qt::PlainText);
    btnAviso = new QPushButton(QStringLiteral("Actualizar circulares"), this);
    btnAviso->setObjectName(QStringLiteral("btnAviso"));
    btnCerrarAviso = new QPushButton(QStringLiteral("Cerrar"), this);
    btnCerrarAviso->setObjectName(QStringLiteral("btnCerrarAviso"));
    btnCerrarAviso->setAccessibleName(QStringLiteral("Cerrar el aviso"));
    for (QPushButton *button : {btnAviso, btnCerrarAviso}) {
        button->setAutoDefault(false);
        // The reader's typing stays where it was when the notice appears.
        button->setFocusPolicy(Qt::TabFocus);
    }
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lblAviso);
    layout->addWidget(btnAviso);
    layout->addWidget(btnCerrarAviso);
    setAccessibleName(QStringLiteral("Aviso de circulares nuevas"));
    connect(btnAviso, &QPushButton::clicked, this, [this] {
        hide();
        emit openUpdates();
    });
    connect(btnCerrarAviso, &QPushButton::clicked, this, &QWidget::hide);
    hide();
}

void UpdateNotice::announce(int count)
{
    lblAviso->setText(count == 1 ? QStringLiteral("Hay 1 circular nueva.")
                                 : QStringLiteral("Hay %1 circulares nuevas.").arg(count));
    show();
}
