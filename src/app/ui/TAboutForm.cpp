#include "app/ui/TAboutForm.h"

#include "app/ui/AppIcons.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

TAboutForm::TAboutForm(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(ProgramIcon().pixmap(32, 32));
    auto* name = new QLabel(QString::fromLatin1(ProgramName), this);
    name->setObjectName(QStringLiteral("LB_ProgramName"));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    auto* version = new QLabel(QString::fromLatin1(ProgramVersionText), this);
    version->setObjectName(QStringLiteral("LB_Version"));
    auto* copyright = new QLabel(QStringLiteral("Copyright (C) the Nodewarden authors.\n"
                                                "Console for fleets of KTR-4200 access points."),
                                 this);
    copyright->setObjectName(QStringLiteral("LB_Copyright"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(image, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(name, 0, 1);
    layout->addWidget(version, 1, 1);
    layout->addWidget(copyright, 2, 1);
    layout->addWidget(ok, 3, 0, 1, 2, Qt::AlignCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
