#pragma once
// Group boxes drawn the classic way: the caption sits on the frame line at
// the top left, and the frame starts half a caption below the box's top. The
// controls inside keep the positions they were laid out at.
#include <QProxyStyle>

namespace corvane {

class GroupBoxStyle : public QProxyStyle {
public:
    GroupBoxStyle();
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override;
    // An etched frame: a shadow line with a light line inside it.
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};

} // namespace corvane
