#include "ui/app_title.h"

#include <QCoreApplication>
#include <QFileInfo>

QString ApplicationTitle() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}
