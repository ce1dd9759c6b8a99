#ifndef CARDSHADOW_H
#define CARDSHADOW_H

#include <QImage>
#include <QPainterPath>
#include <QPoint>

// The card's white panel is rounded on its top-left and bottom-right corners only.
QPainterPath cardPanelShape(const QRectF &panel);

// The soft shadow that lies under a card's panel, down and to the right of it. A graphics effect
// would render the panel off-screen and blur it on every repaint, a spinner's turn or a state text
// included; the shadow of a panel size is drawn once and shared by every card.
class CardShadow
{
public:
    // Where the shadow's image goes for a panel at `panel`, and the image itself.
    static QPoint origin(const QRect &panel);
    static QImage image(const QSize &panel, qreal devicePixelRatio);

    static constexpr int kOffset = 4;
    static constexpr int kBlur = 9;
    static constexpr int kOpacity = 50;
};

#endif // CARDSHADOW_H
