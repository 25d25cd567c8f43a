#include "relay_param_page.h"

TAuxPage::TAuxPage(QWidget *parent)
    : TRelayParamPage({QStringLiteral("pnlAux"),
                       QStringLiteral("lblCaptionAux"),
                       {},
                       {},
                       {QStringLiteral("btnAuxRead"), QStringLiteral("btnAuxWrite"),
                        QStringLiteral("Button6")}},
                      parent) {}
