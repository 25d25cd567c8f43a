#pragma once

#include "page.h"

class QComboBox;

// pnlAbout: product name, version and build date, and the style selector.
class TAboutPage : public TPage {
    Q_OBJECT
  public:
    explicit TAboutPage(ScreenHost &host, QWidget *parent = nullptr);

    // "Windows", "Transparente", "Jet"; nothing selected until the window is
    // first shown.
    QComboBox *cbxStyle;
};
