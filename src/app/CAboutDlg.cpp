#include "app/CAboutDlg.h"

#include "app/AppIcon.h"
#include "app/DialogUnits.h"

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("关于 Vindrel"));
    setFont(DialogFont());
    setModal(true);
    const DialogUnits du(font());
    setFixedSize(du.X(170), du.Y(62));

    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setGeometry(du.X(14), du.Y(14), 32, 32);

    auto* name = new QLabel(QStringLiteral("Vindrel，1.0 版"), this);
    name->setTextFormat(Qt::PlainText);
    name->setGeometry(du.Rect(42, 14, 114, 8));

    auto* second = new QLabel(QStringLiteral("版权所有 (C) 2026 Vindrel"), this);
    second->setTextFormat(Qt::PlainText);
    second->setGeometry(du.Rect(42, 26, 114, 8));

    m_ok = new QPushButton(QStringLiteral("确定"), this);
    m_ok->setObjectName(QStringLiteral("1"));
    m_ok->setGeometry(du.Rect(113, 41, 50, 14));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
}
