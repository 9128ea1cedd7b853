// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "quorvel_dlg.h"

#include "dating_pass.h"
#include "dialog_units.h"
#include "edited_bytes.h"
#include "file_error.h"
#include "journal_recovery.h"
#include "journal_undo.h"
#include "log_file.h"
#include "log_list_view.h"
#include "message_box.h"
#include "mnemonic_keys.h"
#include "picture_scan.h"
#include "quorvel_browse.h"
#include "quorvel_prefs.h"
#include "ui_quorvel_dlg.h"
#include "window_lock_waiter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <cctype>
#include <cstdio>
#include <limits>

namespace kronvik {

namespace {

const char *const kAboutText = "&About Kronvik...";
const char *const kUndoText = "&Undo Last Dating Pass...";
// A screen frame: during a pass the labels, the progress bar and the log list are painted at most
// this often, however many pictures each frame sees.
constexpr qint64 kFrameMs = 16;

// Keeps the two command buttons disabled while a dating pass runs, and enables them after it
// however it ends (the scan only while there is a source list to scan): a second scan or pass
// inside a running pass would change the list under it.
class PassGuard
{
public:
    PassGuard(bool &running, HeldLabelTexts &labels, QPushButton *retrieve, QPushButton *date,
              const QLineEdit *source)
        : m_running(running)
        , m_labels(labels)
        , m_retrieve(retrieve)
        , m_date(date)
        , m_source(source)
        , m_focusBefore(retrieve->window()->focusWidget())
    {
        m_running = true;
        m_labels.Begin();
        m_retrieve->setEnabled(false);
        m_date->setEnabled(false);
        m_focusMovedTo = m_retrieve->window()->focusWidget();
    }
    ~PassGuard()
    {
        m_running = false;
        m_labels.End();
        m_retrieve->setEnabled(!m_source->text().isEmpty());
        m_date->setEnabled(true);
        // Disabling the button that had the focus moved it on; it comes back to the button, as
        // a command pressed from the keyboard keeps it, unless the user has moved it since.
        if (m_focusBefore && m_focusBefore != m_focusMovedTo && m_focusBefore->isEnabled()
            && m_retrieve->window()->focusWidget() == m_focusMovedTo)
            m_focusBefore->setFocus();
    }

private:
    bool &m_running;
    HeldLabelTexts &m_labels;
    QPushButton *m_retrieve;
    QPushButton *m_date;
    const QLineEdit *m_source;
    QPointer<QWidget> m_focusBefore;
    QPointer<QWidget> m_focusMovedTo;
};

} // namespace

CQuorvelDlg::CQuorvelDlg(ProgramState &state, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::CQuorvelDlg>())
    , m_state(state)
    , m_hIcon(QApplication::windowIcon())
{
    m_ui->setupUi(this);
    // A fixed-size window of its own, with a minimize box and no maximize box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    LayOutInDialogUnits(*this, QSize(550, 289));

    m_staticTotal = m_ui->staticTotal;
    m_staticOf = m_ui->staticOf;
    m_staticFile = m_ui->staticFile;
    m_staticCurrent = m_ui->staticCurrent;
    m_staticCaption = m_ui->staticCaption;
    m_staticPercent = m_ui->staticPercent;
    m_progress = m_ui->progress;
    m_listLog = m_ui->listLog;
    m_editSourceDirs = m_ui->editSourceDirs;
    m_btnRetrieve = m_ui->btnRetrieve;
    m_btnDate = m_ui->btnDate;
    m_btnPrefs = m_ui->btnPrefs;
    m_btnBrowse = m_ui->btnBrowse;
    // The labels a pass rewrites after every picture keep the places the window gave them: at a
    // size of their own, a new text does not ask the window to lay itself out again.
    // They show paths as they are: a folder named "<p>" is no paragraph.
    for (QLabel *label : {m_staticTotal, m_staticOf, m_staticFile, m_staticCurrent, m_staticCaption,
                          m_staticPercent}) {
        label->setFixedSize(label->size());
        label->setTextFormat(Qt::PlainText);
    }
    // A line edit cuts any text set into it at 32767 characters by default; a long source list
    // must come back whole, never as a shorter path.
    m_editSourceDirs->setMaxLength(std::numeric_limits<int>::max());
    KeepMnemonicKeysOutOf(m_editSourceDirs);

    connect(m_btnBrowse, &QPushButton::clicked, this, &CQuorvelDlg::OnBrowse);
    connect(m_btnRetrieve, &QPushButton::clicked, this, &CQuorvelDlg::RetrieveFileList);
    connect(m_btnPrefs, &QPushButton::clicked, this, &CQuorvelDlg::OnPreferences);
    connect(m_btnDate, &QPushButton::clicked, this, &CQuorvelDlg::DatePictures);
    // Typing, pasting, Browse and loaded settings all change the text.
    connect(m_editSourceDirs, &QLineEdit::textChanged, this, &CQuorvelDlg::UpdateRetrieveFileList);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &CQuorvelDlg::OnQuitRequest);
    m_paintTimer.setSingleShot(true);
    connect(&m_paintTimer, &QTimer::timeout, this, &CQuorvelDlg::PaintNow);

    OnInitDialog();
}

CQuorvelDlg::~CQuorvelDlg() = default;

DatingSession CQuorvelDlg::Session()
{
    DatingSession session{m_state, *m_listLog, *this, m_bRecurse, m_nTimeAdjust, m_bCancel, {}};
    session.sourceLocks = &m_sourceLocks;
    return session;
}

void CQuorvelDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);
    m_btnRetrieve->setEnabled(false);
    m_btnDate->setEnabled(false);
    LoadSettings();
    m_editSourceDirs->setFocus();
}

void CQuorvelDlg::LoadSettings()
{
    kronvik::LoadSettings(*this, *this);
}

void CQuorvelDlg::SaveSettings()
{
    kronvik::SaveSettings(*this, *this);
}

void CQuorvelDlg::WriteLogFile()
{
    kronvik::WriteLogFile(*m_listLog, m_bSaveLog, m_strLogDir);
}

void CQuorvelDlg::RetrieveFileList()
{
    // The scan runs to its end without handling events; the list changes only between passes.
    if (m_bPassRunning)
        return;
    // Only a scan that ran offers "&Date Pictures".
    const bool dateWasEnabled = m_btnDate->isEnabled();
    if (!HoldSourceLocks(SourceDirectoryText()))
        return;
    DatingSession session = Session();
    bool scanBegun = false;
    try {
        // What a killed pass left half done in these folders is taken back before they are
        // searched, so the list names the pictures as they were; so is what one left in a
        // folder that the scan reaches through a link or a mount, before it searches it.
        Journal journal;
        if (!HoldFoldersToRecover(journal))
            return;
        RecoverUnfinishedPasses(journal, m_sourceLocks.Folders(), session.clock, *m_listLog);
        session.journal = &journal;
        // The scan searches the list whose folders were locked for it: the box may have been
        // edited while the window waited for them.
        m_listSourceText = m_sourceLocks.SourceText();
        scanBegun = true;
        ScanSources(session);
    } catch (const JournalError &error) {
        m_listLog->ShowPendingLines();
        m_sourceLocks.Release();
        m_btnDate->setEnabled(dateWasEnabled && !scanBegun);
        ReportFileError(error.what());
    }
}

void CQuorvelDlg::ScanSources(DatingSession &session)
{
    m_scanSourceText = m_sourceLocks.SourceText();
    m_heldByAnotherRun.clear();
    try {
        kronvik::RetrieveFileList(session);
    } catch (...) {
        // A recovery on the way could not use the journal: the list is not whole.
        m_scanSourceText.reset();
        m_state.pictureList.clear();
        m_btnDate->setEnabled(false);
        throw;
    }
    m_scanSourceText.reset();
    m_listLog->ShowPendingLines();
    if (m_heldByAnotherRun.empty() || m_bQuitting)
        return;
    std::string text = "These folders and pictures, reached through links, were left out: "
                       "another Kronvik pass is dating the pictures there.\n";
    for (const std::string &path : m_heldByAnotherRun)
        text += "\n" + path;
    ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Kronvik"),
                   QFile::decodeName(QByteArray::fromStdString(text)));
}

void CQuorvelDlg::DatePictures()
{
    if (m_bPassRunning)
        return;
    // A further pass over the same list takes the locks of its retrieval again, and first takes
    // back what a pass killed since left half done in their folders, as the retrieval did.
    if (!m_sourceLocks.IsHeld() || m_sourceLocks.SourceText() != m_listSourceText) {
        if (!HoldSourceLocks(m_listSourceText))
            return;
        DatingSession session = Session();
        try {
            Journal journal;
            if (!HoldFoldersToRecover(journal))
                return;
            // Pictures renamed back are no longer where the list names them: it is made again.
            if (RecoverUnfinishedPasses(journal, m_sourceLocks.Folders(), session.clock, *m_listLog)
                > 0) {
                session.journal = &journal;
                ScanSources(session);
            }
        } catch (const JournalError &error) {
            m_listLog->ShowPendingLines();
            m_sourceLocks.Release();
            ReportFileError(error.what());
            return;
        }
        m_listLog->ShowPendingLines();
    }
    {
        PassGuard guard(m_bPassRunning, m_heldLabels, m_btnRetrieve, m_btnDate, m_editSourceDirs);
        m_progress->setUpdatesEnabled(false);
        try {
            // Every change of the pass is recorded before it is made; a journal that cannot be
            // used stops the pass before the first.
            Journal journal;
            DatingSession session = Session();
            session.journal = &journal;
            session.journalFrontEnd = JournalFrontEnd::Window;
            session.journalSources = m_sourceLocks.SourceText();
            kronvik::DatePictures(session);
        } catch (const FileError &error) {
            m_listLog->ShowPendingLines();
            m_progress->setUpdatesEnabled(true);
            PaintNow();
            ReportFileError(error.Message());
        } catch (const JournalError &error) {
            m_listLog->ShowPendingLines();
            m_progress->setUpdatesEnabled(true);
            PaintNow();
            ReportFileError(error.what());
        }
        m_listLog->ShowPendingLines();
    }
    m_progress->setUpdatesEnabled(true);
    PaintNow();
    m_sourceLocks.Release();
    // A quit requested during the pass ended it after the picture at hand; the window closes
    // now, so its log file holds the summary lines.
    if (m_bQuitting && !m_bClosed)
        OnCancel();
}

void CQuorvelDlg::ReportHeldByAnotherRun(const std::string &path, bool /*folder*/)
{
    m_heldByAnotherRun.push_back(path);
}

bool CQuorvelDlg::HoldFoldersToRecover(Journal &journal)
{
    return WaitWithCommandsOff([&](LockWaiter &waiter) {
        return kronvik::HoldFoldersToRecover(journal, m_sourceLocks, waiter);
    });
}

bool CQuorvelDlg::HoldSourceLocks(const std::string &sourceText)
{
    return WaitWithCommandsOff(
            [&](LockWaiter &waiter) { return m_sourceLocks.Take(sourceText, waiter); });
}

bool CQuorvelDlg::WaitWithCommandsOff(const std::function<bool(LockWaiter &)> &takeLocks)
{
    bool held = false;
    {
        PassGuard guard(m_bPassRunning, m_heldLabels, m_btnRetrieve, m_btnDate, m_editSourceDirs);
        WindowLockWaiter waiter(*this, *m_staticFile);
        held = takeLocks(waiter);
    }
    // A quit requested during the wait ended it; the window closes now, as it would have at once.
    if (!held && m_bQuitting && !m_bClosed)
        OnCancel();
    return held;
}

void CQuorvelDlg::OnBrowse()
{
    CQuorvelBrowse browser(this, m_listBrowseRoots);
    if (browser.exec() != QDialog::Accepted)
        return;
    const std::string path = browser.GetSelectedPath();
    std::string text = SourceDirectoryText();
    // An empty path is found in any text, so it changes nothing either.
    if (text.find(path) != std::string::npos)
        return;
    if (!text.empty())
        text += ';';
    text += path;
    SetSourceDirectoryText(text);
    EnableRetrieveFileList();
}

void CQuorvelDlg::OnPreferences()
{
    CQuorvelPrefs prefs(this);
    prefs.m_bRecurse = m_bRecurse;
    prefs.m_bSaveLog = m_bSaveLog;
    prefs.m_bSaveSourceDirs = m_bSaveSourceDirs;
    prefs.m_strLogDir = m_strLogDir;
    prefs.m_nTimeAdjust = m_nTimeAdjust;
    if (prefs.exec() != QDialog::Accepted)
        return;
    m_bRecurse = prefs.m_bRecurse;
    m_bSaveLog = prefs.m_bSaveLog;
    m_bSaveSourceDirs = prefs.m_bSaveSourceDirs;
    m_strLogDir = prefs.m_strLogDir;
    m_nTimeAdjust = prefs.m_nTimeAdjust;
}

void CQuorvelDlg::OnCancel()
{
    if (m_bClosed)
        return;
    m_bCancel = true;
    try {
        WriteLogFile();
        SaveSettings();
    } catch (const FileError &error) {
        ReportFileError(error.Message());
        // The window stays open, so the user can change the logs directory and close again; a
        // quit request cannot wait for that (and one that came while the message was open has
        // closed the window already).
        if (!m_bQuitting || m_bClosed)
            return;
    }
    m_bClosed = true;
    QDialog::reject();
    m_sourceLocks.Release();
}

void CQuorvelDlg::reject()
{
    // Esc and the close box.
    OnCancel();
}

void CQuorvelDlg::OnQuitRequest()
{
    m_bQuitting = true;
    emit quitRequested();
    DismissWindowsAbove();
    // During a pass the drain reports the quit, and DatePictures closes the window after it.
    if (!m_bPassRunning)
        OnCancel();
}

void CQuorvelDlg::DismissWindowsAbove()
{
    while (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    // Each one's modal run returns as if cancelled: no browsed directory, no preferences.
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        if (dialog && dialog != this && dialog->isVisible())
            dialog->reject();
    }
}

bool CQuorvelDlg::event(QEvent *event)
{
    // The pass drains the events after every picture, and the widgets take its values before any
    // event is delivered, but their painting waits for the next frame: an update asked for sooner
    // is held, and made when the frame comes.
    if (event->type() != QEvent::UpdateRequest || !m_bPassRunning)
        return QDialog::event(event);
    if (m_sincePaint.isValid() && m_sincePaint.elapsed() < kFrameMs) {
        if (!m_paintTimer.isActive())
            m_paintTimer.start(static_cast<int>(kFrameMs - m_sincePaint.elapsed()));
        return true;
    }
    m_sincePaint.restart();
    // The progress bar paints itself at once whenever its bar grows, unless its updates are off:
    // they are on only while the frame is painted.
    m_progress->setUpdatesEnabled(true);
    const bool handled = QDialog::event(event);
    m_progress->setUpdatesEnabled(!m_bPassRunning);
    return handled;
}

void CQuorvelDlg::PaintNow()
{
    m_paintTimer.stop();
    m_sincePaint.invalidate();
    QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

void CQuorvelDlg::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter on a push button presses it, as a dialog's buttons do. Anywhere else it closes
        // the window as Esc does, with the log file and the settings, rather than dropping both.
        if (auto *button = qobject_cast<QPushButton *>(focusWidget())) {
            if (button->isEnabled())
                button->click();
        } else {
            OnCancel();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CQuorvelDlg::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addSeparator();
    menu.addAction(QString::fromLatin1(kAboutText), this, &CQuorvelDlg::aboutRequested);
    menu.addAction(QString::fromLatin1(kUndoText), this, &CQuorvelDlg::OnUndoLastPass)
            ->setEnabled(!m_bPassRunning);
    menu.exec(event->globalPos());
}

void CQuorvelDlg::OnUndoLastPass()
{
    if (m_bPassRunning)
        return;
    bool undoBegan = false;
    try {
        Journal journal;
        UndoResult found = FindPassToUndo(journal, std::nullopt);
        std::optional<JournaledPass> pass;
        // Another run's end may have pruned it since.
        if (found.outcome == UndoOutcome::Undone && !(pass = journal.FindPass(found.pass)))
            found.outcome = UndoOutcome::UnknownPass;
        // The question's counts are those of the moment: a pass that another run is still making
        // would take back more than the user agreed to.
        if (found.outcome == UndoOutcome::Undone && pass->ended == 0
            && ProcessStillRuns(journal, *pass))
            found.outcome = UndoOutcome::StillRunning;
        if (found.outcome != UndoOutcome::Undone) {
            std::string refusal = UndoRefusal(found);
            refusal[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(refusal[0])));
            ShowMessageBox(this, QMessageBox::Information, QStringLiteral("Kronvik"),
                           QString::fromLocal8Bit(refusal));
            return;
        }
        const QString question = QFile::decodeName(QByteArray::fromStdString(DescribeUndo(
                *pass, journal.CountDoneChanges(pass->id),
                static_cast<int>(
                        PendingRecoveries(journal, SplitSourceList(pass->sources)).size()))));
        QMessageBox ask(QMessageBox::Question, QStringLiteral("Kronvik"), question,
                        QMessageBox::Yes | QMessageBox::No, this);
        // An undo cannot itself be undone: Enter, or a key pressed before the box was seen,
        // leaves the pass as it is.
        ask.setDefaultButton(QMessageBox::No);
        // The folders are named as they are, never read as markup.
        ask.setTextFormat(Qt::PlainText);
        // Its buttons show their captions alone, as the program's other boxes do.
        for (QAbstractButton *button : ask.buttons())
            button->setIcon(QIcon());
        if (ask.exec() != QMessageBox::Yes)
            return;
        // The undo takes the locks of the pass's folders itself; a retrieved list no longer
        // names what the folders hold once it has run.
        m_sourceLocks.Release();
        undoBegan = true;
        {
            PassGuard guard(m_bPassRunning, m_heldLabels, m_btnRetrieve, m_btnDate,
                            m_editSourceDirs);
            WindowLockWaiter waiter(*this, *m_staticFile);
            UndoSession session{*m_listLog, *this, m_bCancel, {}, JournalFrontEnd::Window};
            const UndoResult result = UndoPass(journal, pass->id, session, waiter);
            m_listLog->ShowPendingLines();
            if (const std::string refusal = UndoRefusal(result); !refusal.empty())
                ShowMessageBox(this, QMessageBox::Information, QStringLiteral("Kronvik"),
                               QString::fromLocal8Bit(refusal));
        }
    } catch (const JournalError &error) {
        m_listLog->ShowPendingLines();
        ReportFileError(error.what());
    }
    // However it ended, an undo that began may have given files back: the list retrieved before
    // it is dated no more.
    if (undoBegan)
        m_btnDate->setEnabled(false);
    // A frame painted during the undo left the bar's own painting off; the bar shows where the
    // undo ended, as its label does.
    m_progress->setUpdatesEnabled(true);
    PaintNow();
    if (m_bQuitting && !m_bClosed)
        OnCancel();
}

void CQuorvelDlg::ReportFileError(const std::string &message)
{
    if (m_bQuitting) {
        std::fprintf(stderr, "kronvik: %s\n", message.c_str());
        return;
    }
    ShowMessageBox(this, QMessageBox::Critical, QStringLiteral("Kronvik"),
                   QString::fromLocal8Bit(message));
}

void CQuorvelDlg::UpdateRetrieveFileList()
{
    m_btnRetrieve->setEnabled(!m_bPassRunning && !m_editSourceDirs->text().isEmpty());
}

void CQuorvelDlg::SetStatusLabel(StatusLabel label, const std::string &text)
{
    QLabel *target = nullptr;
    switch (label) {
    case StatusLabel::Caption:
        target = m_staticCaption;
        break;
    case StatusLabel::Current:
        target = m_staticCurrent;
        break;
    case StatusLabel::Of:
        target = m_staticOf;
        break;
    case StatusLabel::Total:
        target = m_staticTotal;
        break;
    case StatusLabel::File:
        target = m_staticFile;
        break;
    case StatusLabel::Percent:
        target = m_staticPercent;
        break;
    }
    if (m_heldLabels.IsHolding()) {
        m_heldLabels.Hold(target, text);
        return;
    }
    target->setText(QFile::decodeName(QByteArray::fromStdString(text)));
}

void CQuorvelDlg::SetProgressPosition(int percent)
{
    m_progress->setValue(percent);
}

void CQuorvelDlg::EnableDatePictures()
{
    m_btnDate->setEnabled(true);
}

std::string CQuorvelDlg::SourceDirectoryText() const
{
    if (m_scanSourceText)
        return *m_scanSourceText;
    // A folder name that is not valid UTF-8 keeps its bytes through the user's edits.
    return BytesOfText(m_editSourceDirs->text());
}

void CQuorvelDlg::SetSourceDirectoryText(const std::string &text)
{
    m_editSourceDirs->setText(TextOfBytes(text));
}

void CQuorvelDlg::EnableRetrieveFileList()
{
    // A directory browsed during a pass leaves the button to the pass, which enables it at its end.
    UpdateRetrieveFileList();
}

bool CQuorvelDlg::DrainMessages()
{
    m_listLog->ShowPendingLines();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !m_bQuitting;
}

} // namespace kronvik
