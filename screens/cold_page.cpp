#include "relay_param_page.h"

TColdPage::TColdPage(QWidget *parent)
    : TRelayParamPage(
          {QStringLiteral("pnlCold"),
           QStringLiteral("lblCaptionCold"),
           QStringLiteral("tabCold"),
           {QStringLiteral("tabItemMain=Principal"), QStringLiteral("tabItemLimits=Limites"),
            QStringLiteral("tabItemTimes=Tempos"), QStringLiteral("tabItemTimer=Timer")},
           {QStringLiteral("btnColdRead"), QStringLiteral("btnColdWrite"),
            QStringLiteral("Button1")}},
          parent) {}
