#pragma once

#include <QDialog>

class QPushButton;

// The About box: icon, program name and version, one more line, OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QPushButton* okButton() const { return m_ok; }

  private:
    QPushButton* m_ok = nullptr;
};
