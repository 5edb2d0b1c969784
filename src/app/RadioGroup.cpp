#include "app/RadioGroup.h"

#include <QRadioButton>

namespace corvane {

namespace {
constexpr int kCaptionHeight = 14; // room for the group's caption
constexpr int kSideMargin = 8;
} // namespace

RadioGroup::RadioGroup(const QString& name, const QString& caption, const QStringList& items,
                       QWidget* parent)
    : QGroupBox(caption, parent) {
    setObjectName(name);
    group_.setExclusive(true);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(QStringLiteral("%1Item%2").arg(objectName()).arg(i));
        group_.addButton(button, i);
    }
    connect(&group_, &QButtonGroup::idClicked, this, &RadioGroup::itemClicked);
    layoutItems();
}

int RadioGroup::itemIndex() const {
    return group_.checkedId();
}

void RadioGroup::setItemIndex(int index) {
    if (index < -1 || index >= count())
        return;
    if (index == -1) {
        // An exclusive group refuses to uncheck its last checked button.
        group_.setExclusive(false);
        for (QAbstractButton* b : group_.buttons())
            b->setChecked(false);
        group_.setExclusive(true);
        return;
    }
    group_.button(index)->setChecked(true);
}

int RadioGroup::count() const {
    return static_cast<int>(group_.buttons().size());
}

QString RadioGroup::itemText(int index) const {
    QAbstractButton* b = group_.button(index);
    return b ? b->text() : QString();
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    layoutItems();
}

// Items share the height below the caption evenly, one per row.
void RadioGroup::layoutItems() {
    const int n = count();
    if (n == 0)
        return;
    const int usable = height() - kCaptionHeight - 4;
    const int rowHeight = usable / n;
    for (int i = 0; i < n; ++i) {
        QAbstractButton* b = group_.button(i);
        b->setGeometry(kSideMargin, kCaptionHeight + i * rowHeight, width() - 2 * kSideMargin,
                       rowHeight);
    }
}

} // namespace corvane
