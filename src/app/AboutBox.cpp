#include "app/AboutBox.h"

#include "common/Version.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace corvane {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setModal(false);
    setFixedSize(298, 186);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(8, 8, 281, 129);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setLineWidth(2);

    ProgramIcon = new QLabel(panel);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(24, 16, 33, 33);
    ProgramIcon->setScaledContents(true);
    const QIcon icon = QApplication::windowIcon().isNull()
                           ? style()->standardIcon(QStyle::SP_ComputerIcon)
                           : QApplication::windowIcon();
    ProgramIcon->setPixmap(icon.pixmap(32, 32));

    ProductName = new QLabel(QStringLiteral("Corvane"), panel);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(16);
    ProductName->setFont(bold);
    ProductName->move(88, 16);
    ProductName->adjustSize();

    Version = new QLabel(QStringLiteral("Version %1").arg(QLatin1String(kVersion)), panel);
    Version->setObjectName(QStringLiteral("Version"));
    Version->move(88, 40);
    Version->adjustSize();

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(183, 148, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
}

void TAboutBox::OKButtonClick() {
    hide();
    if (afterOk)
        afterOk();
}

} // namespace corvane
