#pragma once

#include <QPushButton>

#include <cstdint>

// A button that shows a relay's state as a filled lamp. The colour is an
// ARGB value, readable as the property "color".
class TColorButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(uint color READ color WRITE setColor)
  public:
    explicit TColorButton(QWidget *parent = nullptr);

    uint32_t color() const { return FColor; }
    void setColor(uint32_t argb);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    uint32_t FColor = 0xFF000000;
};
