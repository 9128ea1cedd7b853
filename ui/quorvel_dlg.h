// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "browse_roots.h"
#include "dating_session.h"
#include "held_label_texts.h"
#include "program_state.h"
#include "settings_record.h"
#include "settings_store.h"
#include "source_locks.h"
#include "status_view.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace Ui {
class CQuorvelDlg;
}

namespace kronvik {

class LogListView;

// The main window: the source directory list, the four command buttons, the status row and the
// run log. It owns the settings record and the cancel flag, and it is the front end the engine's
// scan and dating pass write to: its widgets are the labels, the progress bar and the log list
// they see.
class CQuorvelDlg : public QDialog,
                    public SettingsRecord,
                    public StatusView,
                    public SourceListControls
{
    Q_OBJECT

public:
    explicit CQuorvelDlg(ProgramState &state, QWidget *parent = nullptr);
    ~CQuorvelDlg() override;

    // The engine's operations, run by the buttons.
    void RetrieveFileList();
    void DatePictures();
    void LoadSettings();
    void SaveSettings();
    void WriteLogFile();

    void OnBrowse();
    void OnPreferences();
    // "&Undo Last Dating Pass...": asks first, then takes the last journaled pass back, its lines
    // in the run log.
    void OnUndoLastPass();
    // The closing sequence: cancel flag, log file, settings, end. A file error stops it where it
    // arises and the window stays open.
    void OnCancel();
    // Esc and the close box reach the closing sequence through here.
    void reject() override;
    // A request to quit from outside the window (the session ending, SIGTERM, SIGHUP): dialogs
    // and menus open above the window are dismissed; a dating pass ends after the picture at
    // hand; then the closing sequence runs. Nobody may be there to answer a message box, so a
    // log file that cannot be written is reported on standard error and the window closes all
    // the same (without saving the settings, as the closing sequence stops there).
    void OnQuitRequest();

    // StatusView and SourceListControls.
    void SetStatusLabel(StatusLabel label, const std::string &text) override;
    void SetProgressPosition(int percent) override;
    void EnableDatePictures() override;
    std::string SourceDirectoryText() const override;
    void SetSourceDirectoryText(const std::string &text) override;
    void EnableRetrieveFileList() override;
    bool DrainMessages() override;
    void ReportHeldByAnotherRun(const std::string &path, bool folder) override;

    const LogListView &RunLogLines() const { return *m_listLog; }
    bool m_bCancel = false;
    // The places the source directory browser offers at its top level.
    BrowseRootLister m_listBrowseRoots = SystemBrowseRoots;

signals:
    // The "&About Kronvik..." entry was chosen; the application shows its About box.
    void aboutRequested();
    // A quit was requested from outside the window: a wait for a folder ends.
    void quitRequested();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void OnInitDialog();
    // What the engine's scan and pass work on: the program-wide state, this window's run log and
    // status row, and its live settings.
    DatingSession Session();
    // Shows a file error's message in a critical message box titled with the program's name;
    // once a quit has been requested, on standard error instead.
    void ReportFileError(const std::string &message);
    // Searches the locked source list for pictures, and says which folders and pictures reached
    // through links it left out because another run holds them.
    void ScanSources(DatingSession &session);
    // Locks the folders of `sourceText`, waiting with the commands disabled while another run
    // holds one. False when the window closed during the wait.
    bool HoldSourceLocks(const std::string &sourceText);
    // Extends the locks to the folders outside the list where a recovery is to work, waiting as
    // HoldSourceLocks does. False when the window closed during the wait.
    bool HoldFoldersToRecover(Journal &journal);
    // Runs `takeLocks` with the commands disabled and the wait shown in the File line.
    bool WaitWithCommandsOff(const std::function<bool(LockWaiter &)> &takeLocks);
    // "&Retrieve File List" is usable whenever the source box holds text and no pass runs.
    void UpdateRetrieveFileList();
    void DismissWindowsAbove();
    // Paints at once what a pass left to paint.
    void PaintNow();

    std::unique_ptr<Ui::CQuorvelDlg> m_ui;
    ProgramState &m_state;
    // While the scan runs: the source list it searches.
    std::optional<std::string> m_scanSourceText;
    // The folders and pictures the scan left out because another run holds them.
    std::vector<std::string> m_heldByAnotherRun;
    // The source list that the picture list was made from: what "&Date Pictures" locks and
    // journals, whatever a retrieval that failed since was asked to search.
    std::string m_listSourceText;
    bool m_bPassRunning = false;
    bool m_bQuitting = false;
    // Held from "&Retrieve File List" to the end of the pass that follows.
    SourceLocks m_sourceLocks;
    bool m_bClosed = false; // the closing sequence has ended the window
    // During a pass the window is painted at most once a screen frame.
    QElapsedTimer m_sincePaint;
    QTimer m_paintTimer;
    // During a pass or a wait for a folder, the status labels take their texts when an event
    // can see them.
    HeldLabelTexts m_heldLabels;

    QLabel *m_staticTotal;
    QLabel *m_staticOf;
    QLabel *m_staticFile;
    QLabel *m_staticCurrent;
    QLabel *m_staticCaption;
    QLabel *m_staticPercent;
    QProgressBar *m_progress;
    LogListView *m_listLog; // the run log's store
    QLineEdit *m_editSourceDirs;
    QPushButton *m_btnRetrieve;
    QPushButton *m_btnDate;
    QPushButton *m_btnPrefs;
    QPushButton *m_btnBrowse;
    QIcon m_hIcon;
};

} // namespace kronvik
