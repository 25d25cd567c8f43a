#pragma once

#include <QWidget>

class QTimer;

// A ring of dots turning while the widget is shown, drawn in the widget's
// text colour so that the styles colour it too.
class TActivityIndicator : public QWidget {
    Q_OBJECT
  public:
    explicit TActivityIndicator(QWidget *parent = nullptr);

    QSize sizeHint() const override { return {32, 32}; }
    int Frame() const { return frame; }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

  private:
    static constexpr int Dots = 10;
    QTimer *timer;
    int frame = 0;
};
