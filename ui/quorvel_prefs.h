// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>

#include <memory>
#include <string>

class QCheckBox;
class QLineEdit;

namespace Ui {
class CQuorvelPrefs;
}

namespace kronvik {

class UpDownControl;

// The preferences dialog. The caller copies its five values into the public members before
// exec() and copies them back only when exec() returned QDialog::Accepted: Cancel, Esc and the
// close box hand nothing back.
class CQuorvelPrefs : public QDialog
{
    Q_OBJECT

public:
    explicit CQuorvelPrefs(QWidget *parent = nullptr);
    ~CQuorvelPrefs() override;

    // The time adjustment the arrows step through; a typed value outside it is still accepted.
    static constexpr int kTimeAdjustLower = -24;
    static constexpr int kTimeAdjustUpper = 24;

    bool m_bSaveLog = true;
    bool m_bRecurse = true;
    bool m_bSaveSourceDirs = true;
    std::string m_strLogDir; // bytes, in the locale's encoding
    int m_nTimeAdjust = 0; // hours

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Writing (false) fills the controls from the members; reading (true) fills the members from
    // the controls and fails, after telling the user, when the time adjustment is no integer.
    bool DoDataExchange(bool bSaveAndValidate);
    void OnInitDialog();
    void OnSaveLogClicked();
    void OnOK();
    std::string LogDirFromEdit() const;

    std::unique_ptr<Ui::CQuorvelPrefs> m_ui;
    bool m_bInitialised = false;

    QCheckBox *m_checkSaveLog;
    QLineEdit *m_editLogDir;
    UpDownControl *m_spinTimeAdjust;
};

// The decimal integer at the start of `text`, as the time adjustment is read: its first 63
// characters, leading white space, an optional sign and at least one digit; what follows the
// digits is ignored. False when there is no such number or it does not fit an int.
bool ScanDecimalInteger(const QString &text, int &value);

} // namespace kronvik
