#include "relay_param_page.h"

TFanPage::TFanPage(QWidget *parent)
    : TRelayParamPage(
          {QStringLiteral("pnlFan"),
           QStringLiteral("lblCaptionFan"),
           QStringLiteral("tabFan"),
           {QStringLiteral("tabFanMain=Principal"), QStringLiteral("tabFanAdvanced=Avançado")},
           {QStringLiteral("btnFanRead"), QStringLiteral("btnFanWrite"),
            QStringLiteral("Button4")}},
          parent) {}
