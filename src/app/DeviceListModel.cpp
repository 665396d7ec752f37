#include "app/DeviceListModel.h"

#include "common/TextHelpers.h"

namespace {
constexpr int SubAction = 5;
constexpr int SubStatus = 6;
} // namespace

const QStringList& DeviceListModel::ColumnNames()
{
    static const QStringList names = {
        QStringLiteral("Model Name"), QStringLiteral("Mac Address"), QStringLiteral("IP Address"),
        QStringLiteral("Netmask"),    QStringLiteral("F/W Version"), QStringLiteral("Device Name"),
        QStringLiteral("Action"),     QStringLiteral("Status"),      QStringLiteral("Retry"),
    };
    return names;
}

DeviceListModel::DeviceListModel(QObject* parent) : QAbstractTableModel(parent) {}

DeviceListModel::~DeviceListModel() = default;

int DeviceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Count();
}

int DeviceListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Count() || role != Qt::DisplayRole)
        return {};
    // Cells hold what devices reported, exactly (GetField compares it); the view shows it
    // with whatever does not print escaped.
    const std::optional<QString> cell = Cell(m_rows[size_t(index.row())].get(), index.column());
    return cell ? QVariant(EscapeUntrusted(*cell)) : QVariant();
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return ColumnNames().at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

DeviceRow* DeviceListModel::Row(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return m_rows[size_t(index)].get();
}

DeviceRow* DeviceListModel::AddRow(const QString& caption, const QStringList& subItems)
{
    auto row = std::make_unique<DeviceRow>();
    row->caption = caption;
    row->subItems = subItems;
    row->index = Count();
    beginInsertRows(QModelIndex(), row->index, row->index);
    m_rows.push_back(std::move(row));
    endInsertRows();
    return m_rows.back().get();
}

void DeviceListModel::ClearRows()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
    emit selectionChanged();
}

std::optional<QString> DeviceListModel::Cell(const DeviceRow* row, int column) const
{
    if (!row || column < 0 || column >= ColumnCount)
        return std::nullopt;
    if (column == ColModelName)
        return row->caption;
    const int sub = column - 1;
    if (sub >= row->subItems.size())
        return std::nullopt;
    return row->subItems.at(sub);
}

void DeviceListModel::SetSelected(DeviceRow* row, bool selected)
{
    if (!row || m_selectionLocked || row->selected == selected)
        return;
    row->selected = selected;
    emit selectionChanged();
}

void DeviceListModel::SelectAll()
{
    if (m_selectionLocked)
        return;
    for (auto& row : m_rows)
        row->selected = true;
    emit selectionChanged();
}

void DeviceListModel::ClearSelection()
{
    if (m_selectionLocked)
        return;
    for (auto& row : m_rows)
        row->selected = false;
    emit selectionChanged();
}

QList<DeviceRow*> DeviceListModel::SelectedRows() const
{
    QList<DeviceRow*> out;
    for (const auto& row : m_rows)
        if (row->selected)
            out.append(row.get());
    return out;
}

int DeviceListModel::SelectedCount() const
{
    int n = 0;
    for (const auto& row : m_rows)
        n += row->selected ? 1 : 0;
    return n;
}

DeviceRow* DeviceListModel::FindSelectedItem(const QString& mac) const
{
    for (const auto& row : m_rows)
        if (row->selected && !row->subItems.isEmpty() && row->subItems.at(0) == mac)
            return row.get();
    return nullptr;
}

// Every operation writes Status before it reads it; a row without the cell answers empty
// rather than failing.
QString DeviceListModel::GetStatus(const DeviceRow* row) const
{
    return Cell(row, ColStatus).value_or(QString());
}

QString DeviceListModel::GetAction(const DeviceRow* row) const
{
    return Cell(row, ColAction).value_or(QString());
}

void DeviceListModel::setSub(DeviceRow* row, int subIndex, const QString& text)
{
    if (!row)
        return;
    if (row->subItems.size() > subIndex) {
        row->subItems[subIndex] = text;
        cellChanged(row, subIndex + 1, subIndex + 1);
        return;
    }
    // The three operation cells appear together, after whatever the row has.
    while (row->subItems.size() < SubAction)
        row->subItems.append(QString());
    QString action, status;
    (subIndex == SubAction ? action : status) = text;
    row->subItems.append(action);
    row->subItems.append(status);
    row->subItems.append(QStringLiteral("0"));
    cellChanged(row, ColAction, ColRetry);
}

void DeviceListModel::SetStatus(DeviceRow* row, const QString& text)
{
    setSub(row, SubStatus, text);
}

void DeviceListModel::SetAction(DeviceRow* row, const QString& text)
{
    setSub(row, SubAction, text);
}

QString DeviceListModel::GetField(const DeviceRow* row, const QString& columnName) const
{
    const int column = ColumnNames().indexOf(columnName);
    return Cell(row, column).value_or(QString::fromLatin1(UnknownFieldText));
}

int DeviceListModel::SetField(DeviceRow* row, const QString& columnName, const QString& text)
{
    const int column = ColumnNames().indexOf(columnName);
    if (!Cell(row, column))
        return -1;
    if (column == ColModelName)
        row->caption = text;
    else
        row->subItems[column - 1] = text;
    cellChanged(row, column, column);
    return 0;
}

void DeviceListModel::cellChanged(const DeviceRow* row, int firstColumn, int lastColumn)
{
    emit dataChanged(index(row->index, firstColumn), index(row->index, lastColumn),
                     {Qt::DisplayRole});
}
