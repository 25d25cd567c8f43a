#pragma once

#include "page.h"

class QComboBox;

// pnlAbout: product name, version and build date, and the style selector.
class TAboutPage : public TPage {
    Q_OBJECT
  public:
    explicit TAboutPage(ScreenHost &host, QWidget *parent = nullptr);

    // The stored style is selected once the window is first shown, so the
    // selector's change applies it.
    void LoadSettings(const tSettings &s) override;
    void WindowShown() override;

    // "Windows", "Transparente", "Jet"; nothing selected until the window is
    // first shown.
    QComboBox *cbxStyle;

  Q_SIGNALS:
    // A style was chosen in the selector (its index).
    void styleChosen(int index);

  private:
    int storedStyle = 1;
};
