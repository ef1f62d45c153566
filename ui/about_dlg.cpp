#include "ui/about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "ui/dialog_units.h"
#include "ui/program_icon.h"

CAboutDlg::CAboutDlg(QWidget* parent, const QString& dataFolder) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About NOVUDownLoad"));
    setWindowIcon(ProgramIcon());
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    const DialogUnits du(dialogFont);
    setFixedSize(du.X(235), du.Y(55));

    auto* icon = new QLabel(this);
    icon->setGeometry(du.Rect(11, 17, 20, 20));
    icon->setPixmap(ProgramIcon().pixmap(icon->size()));

    auto* name = new QLabel(QStringLiteral("NOVUDownLoad Version 1.0"), this);
    name->setTextFormat(Qt::PlainText);
    name->setGeometry(du.Rect(40, 10, 119, 8));
    auto* about = new QLabel(QStringLiteral("Mirrors forum topics and articles."), this);
    about->setObjectName(QStringLiteral("aboutText"));
    about->setGeometry(du.Rect(40, 25, 119, 8));

    auto* folder = new QLabel(this);
    folder->setObjectName(QStringLiteral("dataFolder"));
    folder->setTextFormat(Qt::PlainText);
    folder->setGeometry(du.Rect(40, 40, 188, 8));
    const QString text = QStringLiteral("Files in ") + dataFolder;
    folder->setText(folder->fontMetrics().elidedText(text, Qt::ElideMiddle, folder->width()));
    folder->setToolTip(dataFolder);
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(du.Rect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
