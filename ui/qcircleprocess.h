#ifndef QCIRCLEPROCESS_H
#define QCIRCLEPROCESS_H

#include <QColor>
#include <QWidget>

// A spinner of twelve fading spokes, drawn in code, that a card lays over a button while its
// request is under way.
class QCircleProcess : public QWidget
{
    Q_OBJECT

public:
    // The spokes' measures for a spinner whose smaller side is `side` pixels.
    struct Spokes
    {
        int outerRadius;
        int innerRadius;
        int length;
        int width;
        int cornerRadius;
    };
    static Spokes spokesFor(int side);

    explicit QCircleProcess(int size, QWidget *parent = nullptr);

    int angle() const { return m_angle; }
    bool isAnimated() const { return m_timerId != -1; }
    int animationDelay() const { return m_delay; }
    bool isDisplayedWhenStopped() const { return m_displayedWhenStopped; }
    QColor color() const { return m_color; }

    QSize sizeHint() const override;
    int heightForWidth(int width) const override;

public slots:
    void startAnimation();
    void stopAnimation();
    void setAnimationDelay(int delay);
    void setDisplayedWhenStopped(bool state);
    void setColor(QColor color);

protected:
    void timerEvent(QTimerEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int m_angle = 0;
    int m_timerId = -1;
    int m_delay = 40;
    bool m_displayedWhenStopped = false;
    QColor m_color = Qt::black;
};

#endif // QCIRCLEPROCESS_H
