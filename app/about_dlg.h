// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class CAboutDlg;
}

namespace kronvik {

// The About box: the icon, the version line, authorship and rights, and OK. Enter, Esc and the
// close box close it too.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> m_ui;
};

} // namespace kronvik
