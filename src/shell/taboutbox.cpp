#include "shell/taboutbox.h"

#include "shell/appinfo.h"

#include <QDesktopServices>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("О программе KDM"));
    setFixedSize(298, 213);
    setModal(false);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(8, 8, 281, 161);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    auto* icon = new QLabel(panel);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setGeometry(8, 8, 81, 81);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/kdm.svg")).pixmap(81, 81));
    icon->setScaledContents(true);

    auto* name = new QLabel(AppInfo::ProductName, panel);
    name->setObjectName(QStringLiteral("ProductName"));
    name->setFont(QFont(QStringLiteral("Tahoma"), 10, QFont::Bold));
    name->setGeometry(96, 8, 176, 20);

    auto* description = new QLabel(AppInfo::ProductDescription, panel);
    description->setObjectName(QStringLiteral("ProductName2"));
    description->setWordWrap(true);
    description->setGeometry(96, 30, 176, 32);

    auto* version = new QLabel(QStringLiteral("Version: ") + AppInfo::Version, panel);
    version->setObjectName(QStringLiteral("Version"));
    version->setGeometry(96, 66, 176, 16);

    auto* site = new QLabel(panel);
    site->setObjectName(QStringLiteral("Site"));
    site->setText(
        QStringLiteral("<a href=\"%1\" style=\"color:blue\">%1</a>").arg(AppInfo::MakerSite));
    site->setTextFormat(Qt::RichText);
    site->setCursor(Qt::PointingHandCursor);
    site->setGeometry(96, 88, 176, 16);
    connect(site, &QLabel::linkActivated, this,
            [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });

    auto* author = new QLabel(QStringLiteral("2026, KDM developers"), panel);
    author->setObjectName(QStringLiteral("Copyright"));
    author->setGeometry(8, 116, 264, 16);

    auto* comments =
        new QLabel(QStringLiteral("Вопросы и предложения: через сайт производителя"), panel);
    comments->setObjectName(QStringLiteral("Comments"));
    comments->setWordWrap(true);
    comments->setGeometry(8, 134, 264, 24);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    ok->setGeometry(111, 178, 75, 25);
    connect(ok, &QPushButton::clicked, this, &QDialog::hide);
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QDialog::keyPressEvent(event);
}
