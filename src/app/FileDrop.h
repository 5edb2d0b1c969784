#pragma once
// Dropping a file onto a window opens it: a drag that carries one local file
// is accepted, and the drop hands its path on. Anything else is refused, so
// the pointer shows that it cannot be dropped.
#include <QObject>
#include <QString>

#include <functional>

class QMimeData;
class QWidget;

namespace corvane {

class FileDrop : public QObject {
    Q_OBJECT
public:
    // Watches `target`, which it makes accept drops; lives as its child.
    FileDrop(QWidget* target, std::function<void(const QString& path)> open);

    // The path of the one local file `data` carries, or an empty text.
    static QString droppedFile(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(const QString&)> open_;
};

} // namespace corvane
