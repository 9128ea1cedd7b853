#include "run_log_model.h"

#include <QFile>
#include <QTimer>

namespace kronvik {

RunLogModel::RunLogModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void RunLogModel::AppendLogLine(const std::string &line)
{
    m_lines.push_back(line);
    if (!m_flushQueued) {
        m_flushQueued = true;
        QTimer::singleShot(0, this, &RunLogModel::ShowPendingLines);
    }
}

void RunLogModel::ShowPendingLines()
{
    m_flushQueued = false;
    if (m_shown == m_lines.size())
        return;
    beginInsertRows(QModelIndex(), static_cast<int>(m_shown), static_cast<int>(m_lines.size() - 1));
    m_shown = m_lines.size();
    endInsertRows();
}

int RunLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_shown);
}

QVariant RunLogModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(m_shown))
        return {};
    const std::string &line = m_lines[static_cast<std::size_t>(index.row())];
    // Paths in the lines are bytes in the locale's encoding, shown the way file names are.
    return QFile::decodeName(
            QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())));
}

} // namespace kronvik
