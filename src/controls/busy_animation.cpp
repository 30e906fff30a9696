#include "controls/busy_animation.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace tbx {
namespace {

constexpr int kDots = 10;
constexpr int kFrameMs = 90;

} // namespace

BusyAnimation::BusyAnimation(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Индикатор работы"));
    setAttribute(Qt::WA_TranslucentBackground);
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, &BusyAnimation::OnTick);
}

void BusyAnimation::StartBusy() {
    if (timer_.isActive())
        return;
    frame_ = 0;
    timer_.start();
    setAccessibleDescription(QStringLiteral("Идёт работа"));
    update();
}

void BusyAnimation::StopBusy() {
    if (!timer_.isActive())
        return;
    timer_.stop();
    setAccessibleDescription(QString());
    update();
}

void BusyAnimation::OnTick() {
    frame_ = (frame_ + 1) % kDots;
    update();
}

void BusyAnimation::paintEvent(QPaintEvent*) {
    if (!timer_.isActive())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    const QPointF centre(width() / 2.0, height() / 2.0);
    const qreal ring = side * 0.36;
    const qreal dot = side * 0.09;
    p.setPen(Qt::NoPen);
    for (int i = 0; i < kDots; ++i) {
        // The head of the ring is fully dark; the dots behind it fade out.
        const int age = (frame_ - i + kDots) % kDots;
        QColor colour(0x23, 0x5f, 0xa3);
        colour.setAlphaF(1.0 - 0.85 * age / (kDots - 1.0));
        p.setBrush(colour);
        const qreal angle = 2 * std::numbers::pi * i / kDots - std::numbers::pi / 2;
        const QPointF at(centre.x() + ring * std::cos(angle), centre.y() + ring * std::sin(angle));
        const qreal radius = dot * (1.0 - 0.35 * age / (kDots - 1.0));
        p.drawEllipse(at, radius, radius);
    }
}

} // namespace tbx
