// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "about_dlg.h"

#include "dialog_units.h"
#include "ui_about_dlg.h"

#include <QApplication>
#include <QPushButton>

namespace kronvik {

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::CAboutDlg>())
{
    m_ui->setupUi(this);
    LayOutInDialogUnits(*this, QSize(235, 55));
    const int side = m_ui->iconProgram->width();
    m_ui->iconProgram->setPixmap(QApplication::windowIcon().pixmap(side, side));
    connect(m_ui->buttonOk, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

} // namespace kronvik
