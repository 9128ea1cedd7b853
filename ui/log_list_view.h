// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "run_log.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QTimer>

#include <string>
#include <vector>

namespace kronvik {

// The window's log list, and the store of its run log: lines in the order they were added, none
// selectable. It paints only the lines in sight straight from the store, so adding a line costs
// the same with a million lines as with ten; the view hears of new lines in batches, when
// control returns to the event loop or a pass drains it. Adding lines never scrolls the view.
class LogListView : public QAbstractScrollArea, public RunLog
{
    Q_OBJECT

public:
    explicit LogListView(QWidget *parent = nullptr);

    void AppendLogLine(const std::string &line) override;
    std::size_t LineCount() const override { return m_lines.size(); }
    std::string Line(std::size_t index) const override { return m_lines.at(index); }

    // Brings the scroll range and the picture up to date with the lines added since.
    void ShowPendingLines();
    // The index of the topmost line in sight.
    std::size_t FirstVisibleLine() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int LineHeight() const;
    int VisibleLines() const;
    void UpdateScrollRanges();

    std::vector<std::string> m_lines;
    std::size_t m_shown = 0; // lines the scroll range and picture account for
    QTimer m_refreshTimer;
    QElapsedTimer m_sinceRefresh;
};

} // namespace kronvik
