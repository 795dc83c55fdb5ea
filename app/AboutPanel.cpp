// The information panel.
#include "app/AboutPanel.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppInfo.h"

TAboutPanel::TAboutPanel(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("关于 ") + AppInfo::Title());
    setWindowIcon(QIcon(QStringLiteral(":/resources/snapix.png")));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/resources/snapix.png")).pixmap(64, 64));
    icon->setAlignment(Qt::AlignCenter);
    lblTitle = new QLabel(AppInfo::Title(), this);
    QFont big = lblTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    lblTitle->setFont(big);
    lblTitle->setAlignment(Qt::AlignCenter);
    lblVersion = new QLabel(QStringLiteral("版本 ") + AppInfo::Version(), this);
    lblVersion->setAlignment(Qt::AlignCenter);
    lblDescription = new QLabel(AppInfo::Description(), this);
    lblDescription->setAlignment(Qt::AlignCenter);
    lblDescription->setWordWrap(true);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    connect(ok, &QPushButton::clicked, this, &QWidget::close);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(10);
    layout->addWidget(icon);
    layout->addWidget(lblTitle);
    layout->addWidget(lblVersion);
    layout->addWidget(lblDescription);
    layout->addWidget(ok, 0, Qt::AlignCenter);
    setFixedWidth(360);
}
