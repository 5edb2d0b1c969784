#include "app/GroupBoxStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionGroupBox>

namespace corvane {

namespace {
constexpr int kCaptionLeft = 6;    // pixels from the box's left edge to the caption
constexpr int kCaptionPadding = 2; // gap on either side of the caption
} // namespace

GroupBoxStyle::GroupBoxStyle() : QProxyStyle(QApplication::style()->name()) {}

QRect GroupBoxStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                    SubControl sub, const QWidget* widget) const {
    if (control != CC_GroupBox)
        return QProxyStyle::subControlRect(control, option, sub, widget);
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    const QRect r = option->rect;
    const int textHeight = option->fontMetrics.height();
    const bool hasCaption = box && !box->text.isEmpty();
    switch (sub) {
    case SC_GroupBoxFrame:
        return r.adjusted(0, textHeight / 2, 0, 0);
    case SC_GroupBoxLabel:
        if (!hasCaption)
            return QRect();
        return QRect(r.x() + kCaptionLeft, r.y(),
                     option->fontMetrics.horizontalAdvance(box->text) + 2 * kCaptionPadding,
                     textHeight);
    case SC_GroupBoxContents:
        return r.adjusted(2, textHeight, -2, -2);
    case SC_GroupBoxCheckBox:
        return QRect();
    default:
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
}

void GroupBoxStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
    if (element != PE_FrameGroupBox) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const QRect r = option->rect.adjusted(0, 0, -2, -2);
    painter->save();
    painter->setPen(option->palette.color(QPalette::Mid));
    painter->drawRect(r);
    painter->setPen(option->palette.color(QPalette::Light));
    painter->drawRect(r.translated(1, 1));
    painter->restore();
}

} // namespace corvane
