#include "qcircleprocess.h"

#include <QPainter>

QCircleProcess::QCircleProcess(int size, QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
    resize(size, size);
}

QCircleProcess::Spokes QCircleProcess::spokesFor(int side)
{
    Spokes spokes;
    spokes.outerRadius = int((side - 1) * 0.5);
    spokes.innerRadius = int((side - 1) * 0.5 * 0.38);
    spokes.length = spokes.outerRadius - spokes.innerRadius;
    // Small spinners get relatively thicker spokes so they stay visible.
    spokes.width = side > 32 ? int(spokes.length * 0.23) : int(spokes.length * 0.35);
    spokes.cornerRadius = spokes.width / 2;
    return spokes;
}

QSize QCircleProcess::sizeHint() const
{
    return QSize(39, 39);
}

int QCircleProcess::heightForWidth(int width) const
{
    return width;
}

void QCircleProcess::startAnimation()
{
    m_angle = 0;
    if (m_timerId == -1)
        m_timerId = startTimer(m_delay);
}

void QCircleProcess::stopAnimation()
{
    if (m_timerId != -1)
        killTimer(m_timerId);
    m_timerId = -1;
    update();
}

void QCircleProcess::setAnimationDelay(int delay)
{
    if (m_timerId != -1) {
        killTimer(m_timerId);
        m_delay = delay;
        m_timerId = startTimer(m_delay);
        return;
    }
    m_delay = delay;
}

void QCircleProcess::setDisplayedWhenStopped(bool state)
{
    m_displayedWhenStopped = state;
    update();
}

void QCircleProcess::setColor(QColor color)
{
    m_color = color;
    update();
}

void QCircleProcess::timerEvent(QTimerEvent *event)
{
    Q_UNUSED(event)
    m_angle = (m_angle + 30) % 360;
    update();
}

void QCircleProcess::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    if (m_timerId == -1 && !m_displayedWhenStopped)
        return;

    const int side = qMin(width(), height());
    const Spokes spokes = spokesFor(side);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 12; ++i) {
        QColor color = m_color;
        color.setAlphaF(1.0 - i / 12.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.save();
        painter.translate(rect().center());
        painter.rotate(m_angle - 30 * i);
        painter.drawRoundedRect(int(-spokes.width * 0.5), -spokes.outerRadius, spokes.width, spokes.length,
            spokes.cornerRadius, spokes.cornerRadius, Qt::AbsoluteSize);
        painter.restore();
    }
}
