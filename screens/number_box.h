#pragma once

#include <QDoubleSpinBox>

// A number box as the parameter pages use it: typed rather than stepped,
// one decimal shown, yet bounds kept exactly (32.18 stays 32.18, where a
// one-decimal box would round it to 32.2 and refuse its own bound).
class TNumberBox : public QDoubleSpinBox {
    Q_OBJECT
  public:
    explicit TNumberBox(int shownDecimals = 1, QWidget *parent = nullptr);

    QString textFromValue(double value) const override;

  private:
    int shown;
};
