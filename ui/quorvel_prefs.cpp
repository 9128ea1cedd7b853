// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "quorvel_prefs.h"

#include "dialog_units.h"
#include "edited_bytes.h"
#include "message_box.h"
#include "mnemonic_keys.h"
#include "ui_quorvel_prefs.h"

#include <QAbstractButton>
#include <QFile>

#include <climits>
#include <limits>

namespace kronvik {

namespace {

// The title of the program's message boxes: the executable's name.
const char *const kProgramName = "Kronvik";

void ShowExclamation(QWidget *owner, const char *text)
{
    ShowMessageBox(owner, QMessageBox::Warning, QString::fromLatin1(kProgramName),
                   QString::fromLatin1(text));
}

} // namespace

bool ScanDecimalInteger(const QString &text, int &value)
{
    const QString head = text.left(63);
    qsizetype at = 0;
    // The blanks a C scan skips: space, tab, line feed, vertical tab, form feed, return.
    while (at < head.size() && QStringView(u" \t\n\v\f\r").contains(head[at]))
        ++at;
    bool negative = false;
    if (at < head.size() && (head[at] == u'+' || head[at] == u'-')) {
        negative = head[at] == u'-';
        ++at;
    }
    const qsizetype firstDigit = at;
    long long magnitude = 0;
    for (; at < head.size() && head[at] >= u'0' && head[at] <= u'9'; ++at) {
        magnitude = magnitude * 10 + (head[at].unicode() - u'0');
        // An int cannot hold it: refused like text without a number, never wrapped around.
        if (magnitude > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (at == firstDigit)
        return false;
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX)
        return false;
    value = static_cast<int>(signedValue);
    return true;
}

CQuorvelPrefs::CQuorvelPrefs(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::CQuorvelPrefs>())
{
    m_ui->setupUi(this);
    m_checkSaveLog = m_ui->checkSaveLog;
    m_editLogDir = m_ui->editLogDir;
    m_spinTimeAdjust = m_ui->spinTimeAdjust;
    LayOutInDialogUnits(*this, QSize(206, 110));
    m_spinTimeAdjust->AttachToBuddy(m_ui->editTimeAdjust);
    // A line edit cuts any text set into it at 32767 characters by default; a long logs
    // directory must come back whole, never as another folder.
    m_editLogDir->setMaxLength(std::numeric_limits<int>::max());
    KeepMnemonicKeysOutOf(m_editLogDir);
    KeepMnemonicKeysOutOf(m_ui->editTimeAdjust);
    for (QAbstractButton *box : {static_cast<QAbstractButton *>(m_ui->checkSaveSourceDirs),
                                 static_cast<QAbstractButton *>(m_ui->checkRecurse),
                                 static_cast<QAbstractButton *>(m_checkSaveLog)})
        TickAtOnceOnMnemonic(box);

    connect(m_checkSaveLog, &QCheckBox::clicked, this, &CQuorvelPrefs::OnSaveLogClicked);
    connect(m_ui->buttonOk, &QPushButton::clicked, this, &CQuorvelPrefs::OnOK);
    connect(m_ui->buttonCancel, &QPushButton::clicked, this, &CQuorvelPrefs::reject);
}

CQuorvelPrefs::~CQuorvelPrefs() = default;

void CQuorvelPrefs::showEvent(QShowEvent *event)
{
    // The controls are filled when the dialog first opens, after the caller set the members.
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CQuorvelPrefs::OnInitDialog()
{
    DoDataExchange(false);
    m_spinTimeAdjust->SetRange(kTimeAdjustLower, kTimeAdjustUpper);
    // Shows the time adjustment clamped to the range: a value typed earlier beyond it opens as
    // the nearest bound.
    m_spinTimeAdjust->SetPos(m_nTimeAdjust);
    m_ui->checkSaveSourceDirs->setFocus();
}

bool CQuorvelPrefs::DoDataExchange(bool bSaveAndValidate)
{
    if (bSaveAndValidate) {
        m_bSaveLog = m_checkSaveLog->isChecked();
        m_bRecurse = m_ui->checkRecurse->isChecked();
        m_bSaveSourceDirs = m_ui->checkSaveSourceDirs->isChecked();
        m_strLogDir = LogDirFromEdit();
        int timeAdjust = 0;
        if (!ScanDecimalInteger(m_ui->editTimeAdjust->text(), timeAdjust)) {
            ShowExclamation(this, "Enter an integer.");
            m_ui->editTimeAdjust->setFocus();
            m_ui->editTimeAdjust->selectAll();
            return false;
        }
        m_nTimeAdjust = timeAdjust;
    } else {
        m_checkSaveLog->setChecked(m_bSaveLog);
        m_ui->checkRecurse->setChecked(m_bRecurse);
        m_ui->checkSaveSourceDirs->setChecked(m_bSaveSourceDirs);
        m_editLogDir->setText(TextOfBytes(m_strLogDir));
        m_ui->editTimeAdjust->setText(QString::number(m_nTimeAdjust));
    }
    m_editLogDir->setEnabled(m_bSaveLog);
    return true;
}

std::string CQuorvelPrefs::LogDirFromEdit() const
{
    // A folder name that is not valid UTF-8 keeps its bytes through the user's edits.
    return BytesOfText(m_editLogDir->text());
}

void CQuorvelPrefs::OnSaveLogClicked()
{
    const bool ticked = m_checkSaveLog->isChecked();
    m_editLogDir->setEnabled(ticked);
    m_bSaveLog = ticked;
    if (!ticked) {
        m_strLogDir.clear();
        m_editLogDir->clear();
    }
}

void CQuorvelPrefs::OnOK()
{
    if (m_bSaveLog) {
        m_strLogDir = LogDirFromEdit();
        if (m_strLogDir.empty()) {
            ShowExclamation(this,
                            "Please specify a valid log directory or uncheck the option to save "
                            "logs.");
            return;
        }
    }
    if (DoDataExchange(true))
        accept();
}

} // namespace kronvik
