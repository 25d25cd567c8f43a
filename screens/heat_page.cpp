#include "relay_param_page.h"

THeatPage::THeatPage(QWidget *parent)
    : TRelayParamPage({QStringLiteral("pnlHeat"),
                       QStringLiteral("lblCaptionHeat"),
                       QStringLiteral("tabHeat"),
                       {QStringLiteral("tabHeatMain=Principal"),
                        QStringLiteral("tabHeatTemperatures=Temperaturas")},
                       {QStringLiteral("btnHeaterRead"), QStringLiteral("btnHeaterWrite"),
                        QStringLiteral("Button2")}},
                      parent) {}
