#include "about_page.h"

#include "settings.h"

#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>

namespace {
QString BuildDate() {
    const QDate date =
        QDate::fromString(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    return QLocale().toString(date, QLocale::ShortFormat);
}
} // namespace

TAboutPage::TAboutPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlAbout"), QStringLiteral("Sobre"), parent),
      cbxStyle(new QComboBox) {
    auto *product = new QLabel(QStringLiteral("Tarvik v1.1"));
    product->setObjectName(QStringLiteral("lblProduct"));
    QFont big = product->font();
    big.setPointSize(22);
    big.setBold(true);
    product->setFont(big);
    product->setAlignment(Qt::AlignCenter);
    auto *about = new QLabel(
        QStringLiteral("Configuração e monitoração do controlador de temperatura Ondrel\n"
                       "Compilado em %1")
            .arg(BuildDate()));
    about->setObjectName(QStringLiteral("lblBuild"));
    about->setAlignment(Qt::AlignCenter);

    cbxStyle->setObjectName(QStringLiteral("cbxStyle"));
    cbxStyle->addItems(
        {QStringLiteral("Windows"), QStringLiteral("Transparente"), QStringLiteral("Jet")});
    cbxStyle->setCurrentIndex(-1);
    cbxStyle->setFixedWidth(180);
    auto *styleRow = new QHBoxLayout;
    styleRow->addStretch(1);
    styleRow->addWidget(new QLabel(QStringLiteral("Estilo")));
    styleRow->addWidget(cbxStyle);
    styleRow->addStretch(1);

    Body()->addStretch(1);
    Body()->addWidget(product);
    Body()->addWidget(about);
    Body()->addSpacing(24);
    Body()->addLayout(styleRow);
    Body()->addStretch(2);
    connect(cbxStyle, &QComboBox::currentIndexChanged, this, &TAboutPage::styleChosen);
}

void TAboutPage::LoadSettings(const tSettings &s) {
    storedStyle = s.Style;
}

void TAboutPage::WindowShown() {
    cbxStyle->setCurrentIndex(storedStyle);
}
