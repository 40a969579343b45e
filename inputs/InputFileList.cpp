#include "InputFileList.h"

#include "FileNames.h"

InputFileList::InputFileList(QObject* parent) : QAbstractListModel(parent) {}

void InputFileList::Append(const QString& path)
{
    const int row = Count();
    beginInsertRows({}, row, row);
    m_texts.append(path);
    endInsertRows();
}

void InputFileList::AppendMany(const QStringList& paths)
{
    // An empty insertion is not a valid one for the views.
    if (paths.isEmpty())
        return;
    const int first = Count();
    beginInsertRows({}, first, first + int(paths.size()) - 1);
    m_texts.append(paths);
    endInsertRows();
}

int InputFileList::Count() const
{
    return int(m_texts.size());
}

QString InputFileList::ItemText(int position) const
{
    Q_ASSERT(isPosition(position));
    return isPosition(position) ? m_texts.at(position - 1) : QString();
}

bool InputFileList::IsInList(const QString& path) const
{
    return m_texts.contains(path, Qt::CaseSensitive);
}

void InputFileList::RemoveAt(int position)
{
    Q_ASSERT(isPosition(position));
    if (!isPosition(position))
        return;
    const int row = position - 1;
    beginRemoveRows({}, row, row);
    m_texts.removeAt(row);
    endRemoveRows();
}

void InputFileList::Clear()
{
    beginResetModel();
    m_texts.clear();
    endResetModel();
}

void InputFileList::SwapTexts(int first, int second)
{
    Q_ASSERT(isPosition(first) && isPosition(second));
    if (!isPosition(first) || !isPosition(second) || first == second)
        return;
    m_texts.swapItemsAt(first - 1, second - 1);
    const QModelIndex firstIndex = index(first - 1);
    const QModelIndex secondIndex = index(second - 1);
    Q_EMIT dataChanged(firstIndex, firstIndex, {Qt::DisplayRole});
    Q_EMIT dataChanged(secondIndex, secondIndex, {Qt::DisplayRole});
}

int InputFileList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant InputFileList::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.model() != this || index.row() >= Count())
        return {};
    // A name's bytes that are not UTF-8 show as the replacement mark; the path itself keeps them.
    return FileNames::forDisplay(m_texts.at(index.row()));
}

QVariant InputFileList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("HTML File(s)");
    return {};
}

Qt::ItemFlags InputFileList::flags(const QModelIndex& index) const
{
    // No editing and no Qt drag and drop: the window reorders by itself, with SwapTexts.
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
