// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "log_list_view.h"

#include "log_scroll_bar.h"

#include <QEvent>
#include <QFile>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace kronvik {

namespace {

constexpr int kTextMargin = 2;

} // namespace

LogListView::LogListView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setVerticalScrollBar(new LogScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new LogScrollBar(Qt::Horizontal, this));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::ClickFocus);
    m_refreshTimer.setSingleShot(true);
    connect(&m_refreshTimer, &QTimer::timeout, this, &LogListView::ShowPendingLines);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    UpdateScrollRanges();
}

void LogListView::AppendLogLine(const std::string &line)
{
    m_lines.push_back(line);
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start(0);
}

void LogListView::ShowPendingLines()
{
    if (m_shown == m_lines.size())
        return;
    const std::size_t firstNew = m_shown;
    const bool inSight =
            firstNew < FirstVisibleLine() + static_cast<std::size_t>(VisibleLines()) + 1;
    // A new scroll range repaints the scroll bar: during a long pass that happens at most
    // twenty times a second, not after every picture.
    constexpr int kRefreshMs = 50;
    if (!inSight && m_sinceRefresh.isValid() && m_sinceRefresh.elapsed() < kRefreshMs) {
        if (!m_refreshTimer.isActive())
            m_refreshTimer.start(kRefreshMs);
        return;
    }
    m_sinceRefresh.restart();
    m_shown = m_lines.size();
    UpdateScrollRanges();
    if (inSight)
        viewport()->update();
}

std::size_t LogListView::FirstVisibleLine() const
{
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

int LogListView::LineHeight() const
{
    return std::max(1, fontMetrics().height());
}

int LogListView::VisibleLines() const
{
    return std::max(1, viewport()->height() / LineHeight());
}

void LogListView::UpdateScrollRanges()
{
    const int page = VisibleLines();
    const auto lines = static_cast<long long>(std::min<std::size_t>(m_shown, INT_MAX));
    QScrollBar *vertical = verticalScrollBar();
    const int maximum = static_cast<int>(std::max(0LL, lines - page));
    {
        // The area lays itself out again at every new range, and that raises both scroll bars,
        // which repaints them with the frame behind them, though with both bars always shown
        // the layout stays as it was. A range that keeps the value where it is moves nothing,
        // so the area need not hear of it.
        const QSignalBlocker quiet(maximum >= vertical->value() ? vertical : nullptr);
        vertical->setRange(0, maximum);
    }
    vertical->setPageStep(page);
    vertical->setSingleStep(1);
    // The list has no horizontal extent: a line longer than the list is cut off at its right
    // edge, and the horizontal scroll bar has nothing to move to.
    horizontalScrollBar()->setRange(0, 0);
}

void LogListView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int height = LineHeight();
    const int ascent = fontMetrics().ascent();
    const int left = kTextMargin;
    const std::size_t first = FirstVisibleLine();
    const std::size_t last =
            std::min(m_shown, first + static_cast<std::size_t>(VisibleLines()) + 1);
    for (std::size_t i = first; i < last; ++i) {
        const std::string &line = m_lines[i];
        // Paths in the lines are bytes in the locale's encoding, shown as file names are.
        const QString text = QFile::decodeName(
                QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())));
        const int y = static_cast<int>(i - first) * height;
        painter.drawText(left, y + ascent, text);
    }
}

void LogListView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
}

void LogListView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateScrollRanges();
}

} // namespace kronvik
