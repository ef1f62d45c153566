#pragma once

#include <QDialog>

// The About box: icon, program name and version, one line about the program, the folder that
// holds the settings and downloads, OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr, const QString& dataFolder = {});
};
