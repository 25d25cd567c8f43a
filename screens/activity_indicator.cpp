#include "activity_indicator.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <numbers>

TActivityIndicator::TActivityIndicator(QWidget *parent) : QWidget(parent), timer(new QTimer(this)) {
    timer->setInterval(90);
    connect(timer, &QTimer::timeout, this, [this] {
        frame = (frame + 1) % Dots;
        update();
    });
}

// Turning only while shown keeps hidden indicators from waking the event loop.
void TActivityIndicator::showEvent(QShowEvent *) {
    timer->start();
}

void TActivityIndicator::hideEvent(QHideEvent *) {
    timer->stop();
}

void TActivityIndicator::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    const qreal dot = side / 7.0;
    const qreal radius = side / 2.0 - dot;
    const QPointF centre = rect().center() + QPointF(0.5, 0.5);
    QColor colour = palette().color(foregroundRole());
    p.setPen(Qt::NoPen);
    for (int i = 0; i < Dots; ++i) {
        // The dot at `frame` is the head; the ones behind it fade out.
        const int age = (frame - i + Dots) % Dots;
        colour.setAlphaF(1.0 - 0.85 * age / (Dots - 1));
        p.setBrush(colour);
        const qreal angle = 2 * std::numbers::pi * i / Dots - std::numbers::pi / 2;
        const QPointF at = centre + QPointF(std::cos(angle), std::sin(angle)) * radius;
        p.drawEllipse(at, dot / 2 * (age == 0 ? 1.25 : 1.0), dot / 2 * (age == 0 ? 1.25 : 1.0));
    }
}
