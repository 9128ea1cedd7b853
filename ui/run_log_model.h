#pragma once

#include "run_log.h"

#include <QAbstractListModel>

#include <string>
#include <vector>

namespace kronvik {

// The run log as the window's log list shows it. Lines are kept as the bytes the engine wrote and
// turned into text only when painted. A pass may add a million lines: the view hears of new rows
// in batches, once control returns to the event loop (or the pass drains it), not once per line.
class RunLogModel : public QAbstractListModel, public RunLog
{
public:
    explicit RunLogModel(QObject *parent = nullptr);

    void AppendLogLine(const std::string &line) override;
    std::size_t LineCount() const override { return m_lines.size(); }
    std::string Line(std::size_t index) const override { return m_lines.at(index); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Tells the view of the lines added since it last heard.
    void ShowPendingLines();

private:
    std::vector<std::string> m_lines;
    std::size_t m_shown = 0;
    bool m_flushQueued = false;
};

} // namespace kronvik
