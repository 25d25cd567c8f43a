#include "status_color_button.h"

#include <QPainter>
#include <QStyleOptionButton>

TColorButton::TColorButton(QWidget *parent) : QPushButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TColorButton::setColor(uint32_t argb) {
    if (FColor == argb)
        return;
    FColor = argb;
    update();
}

QSize TColorButton::sizeHint() const {
    return {44, 44};
}

void TColorButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(3, 3, -3, -3);
    QColor fill = QColor::fromRgba(FColor);
    if (isDown())
        fill = fill.darker(130);
    else if (underMouse())
        fill = fill.lighter(fill.value() < 40 ? 300 : 110);
    if (!isEnabled())
        fill.setAlpha(110);
    p.setPen(QPen(palette().color(QPalette::Mid), 2));
    p.setBrush(fill);
    p.drawEllipse(r);
    // A soft highlight makes the lamp read as a lamp on any background.
    QRadialGradient shine(r.center() - QPointF(r.width() / 6, r.height() / 6), r.width() / 2);
    shine.setColorAt(0, QColor(255, 255, 255, 90));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawEllipse(r);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(r.adjusted(-2, -2, 2, 2));
    }
}
