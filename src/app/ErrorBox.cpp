#include "app/ErrorBox.h"

#include "common/Error.h"

#include <QMessageBox>
#include <QWidget>

namespace corvane {

QString errorBoxText(const QString& text) {
    if (!text.isEmpty() && text.back() > QChar(u'.'))
        return text + u'.';
    return text;
}

QString errorBoxText(const std::string& text) {
    return errorBoxText(QString::fromStdString(text));
}

QString describeException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void showErrorBox(QWidget* parent, const QString& message) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvane"), message, QMessageBox::Ok,
                    parent);
    box.exec();
}

} // namespace corvane
