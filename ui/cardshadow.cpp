#include "cardshadow.h"

#include <QPainter>

#include <algorithm>
#include <vector>

namespace {

constexpr qreal kCornerRadius = 85;
// Three passes of a box blur come close to a Gaussian; three of radius 3 spread the shadow over
// the blur's 9 pixels.
constexpr int kBoxPasses = 3;
constexpr int kBoxRadius = 3;
static_assert(kBoxPasses * kBoxRadius == CardShadow::kBlur, "the image's margin holds the whole blur");

// One pass of a box blur over the alpha channel, along rows or along columns.
void boxBlur(QImage &image, int radius, bool alongRows)
{
    const int lines = alongRows ? image.height() : image.width();
    const int length = alongRows ? image.width() : image.height();
    std::vector<int> source(size_t(length), 0);
    const int window = 2 * radius + 1;
    for (int line = 0; line < lines; ++line) {
        const auto pixel
            = [&](int i) -> uchar & { return alongRows ? image.scanLine(line)[i] : image.scanLine(i)[line]; };
        for (int i = 0; i < length; ++i)
            source[size_t(i)] = pixel(i);
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += (i >= 0 && i < length) ? source[size_t(i)] : 0;
        for (int i = 0; i < length; ++i) {
            pixel(i) = uchar(sum / window);
            const int leaving = i - radius;
            const int entering = i + radius + 1;
            sum -= (leaving >= 0) ? source[size_t(leaving)] : 0;
            sum += (entering < length) ? source[size_t(entering)] : 0;
        }
    }
}

} // namespace

QPainterPath cardPanelShape(const QRectF &panel)
{
    const qreal radius = std::min({ kCornerRadius, panel.width(), panel.height() });
    QPainterPath path;
    path.moveTo(panel.left(), panel.top() + radius);
    path.arcTo(QRectF(panel.topLeft(), QSizeF(2 * radius, 2 * radius)), 180, -90);
    path.lineTo(panel.topRight());
    path.lineTo(panel.right(), panel.bottom() - radius);
    path.arcTo(
        QRectF(panel.right() - 2 * radius, panel.bottom() - 2 * radius, 2 * radius, 2 * radius), 0, -90);
    path.lineTo(panel.bottomLeft());
    path.closeSubpath();
    return path;
}

QPoint CardShadow::origin(const QRect &panel)
{
    return panel.topLeft() + QPoint(kOffset - kBlur, kOffset - kBlur);
}

QImage CardShadow::image(const QSize &panel, qreal devicePixelRatio)
{
    static QSize cachedPanel;
    static qreal cachedRatio = 0;
    static QImage cached;
    if (panel == cachedPanel && devicePixelRatio == cachedRatio && !cached.isNull())
        return cached;

    const QSize logical = panel + QSize(2 * kBlur, 2 * kBlur);
    QImage alpha((QSizeF(logical) * devicePixelRatio).toSize(), QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter painter(&alpha);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(devicePixelRatio, devicePixelRatio);
        painter.fillPath(
            cardPanelShape(QRectF(QPointF(kBlur, kBlur), QSizeF(panel))), QColor(0, 0, 0, kOpacity));
    }
    const int radius = std::max(1, qRound(kBoxRadius * devicePixelRatio));
    for (int pass = 0; pass < kBoxPasses; ++pass) {
        boxBlur(alpha, radius, true);
        boxBlur(alpha, radius, false);
    }
    QImage shadow(alpha.size(), QImage::Format_ARGB32_Premultiplied);
    shadow.fill(Qt::transparent);
    {
        QPainter painter(&shadow);
        painter.drawImage(0, 0, alpha);
    }
    shadow.setDevicePixelRatio(devicePixelRatio);

    cachedPanel = panel;
    cachedRatio = devicePixelRatio;
    cached = shadow;
    return cached;
}
