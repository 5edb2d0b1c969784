#pragma once
// A captioned group of radio buttons with an item index, where -1 means that
// no item is selected (the runs over frames clear the selection that way).
#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>

namespace corvane {

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    // `name` is the object name; the items are named <name>Item<i>.
    RadioGroup(const QString& name, const QString& caption, const QStringList& items,
               QWidget* parent = nullptr);

    int itemIndex() const;
    // -1 unchecks every item; an index out of range is ignored.
    void setItemIndex(int index);
    int count() const;
    QString itemText(int index) const;

signals:
    // The user picked an item.
    void itemClicked(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutItems();
    QButtonGroup group_;
};

} // namespace corvane
