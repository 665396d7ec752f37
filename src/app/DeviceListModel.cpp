#include "app/DeviceListModel.h"

#include "common/TextHelpers.h"

namespace {
// Sub-items of the discovery: MAC, IP address, netmask, firmware version, device name.
constexpr int DiscoverySubItems = 5;

struct StateText
{
    DeviceState state;
    const char* text;
};
constexpr StateText StateTexts[] = {
    {DeviceState::InRunning, "....."}, {DeviceState::Pending, ".."},
    {DeviceState::Ok, "OK"},           {DeviceState::Unsuccess, "Unsuccess!"},
    {DeviceState::TimeOut, "-Time Out-"}, {DeviceState::Aborted, "Aborted!"},
};

struct StepText
{
    DeviceStep step;
    const char* text;
};
constexpr StepText StepTexts[] = {
    {DeviceStep::SetIP, "Set IP"},
    {DeviceStep::WriteConfig1, "Write Config:1"},
    {DeviceStep::WriteConfig2, "Write Config:2"},
    {DeviceStep::ReadConfig, "Read Config"},
    {DeviceStep::UpdateFw1, "Update F/W:1"},
    {DeviceStep::UpdateFw2, "Update F/W:2"},
    {DeviceStep::VerifyConfig, "Verify Config"},
    {DeviceStep::Reset, "Reset"},
    {DeviceStep::FactoryReset, "Factory Reset"},
};

// A Retry cell written as text: anything but a number is no retry left, so a damaged cell
// cannot make a device retry without end.
int retryCount(const QString& text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok ? n : 0;
}
} // namespace

QString DeviceStateText(DeviceState state)
{
    for (const StateText& t : StateTexts)
        if (t.state == state)
            return QString::fromLatin1(t.text);
    return QString();
}

QString DeviceStepText(DeviceStep step)
{
    for (const StepText& t : StepTexts)
        if (t.step == step)
            return QString::fromLatin1(t.text);
    return QString();
}

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
    row->id = m_nextId++;
    m_byId.insert(row->id, row.get());
    beginInsertRows(QModelIndex(), row->index, row->index);
    m_rows.push_back(std::move(row));
    endInsertRows();
    return m_rows.back().get();
}

void DeviceListModel::ClearRows()
{
    beginResetModel();
    m_byId.clear();
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
    if (column >= ColAction && row->hasOperationCells) {
        if (column == ColAction)
            return row->step == DeviceStep::Other ? row->actionText : DeviceStepText(row->step);
        if (column == ColStatus)
            return row->state == DeviceState::Other ? row->statusText : DeviceStateText(row->state);
        return QString::number(row->retries);
    }
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

DeviceRow* DeviceListModel::RowById(quint64 id) const
{
    return m_byId.value(id, nullptr);
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

void DeviceListModel::ensureOperationCells(DeviceRow* row)
{
    if (row->hasOperationCells)
        return;
    // The three operation cells appear together, after the discovery's sub-items.
    while (row->subItems.size() < DiscoverySubItems)
        row->subItems.append(QString());
    row->hasOperationCells = true;
    row->state = DeviceState::Other;
    row->statusText.clear();
    row->step = DeviceStep::Other;
    row->actionText.clear();
    row->retries = 0;
}

// Announces a change of one operation cell, or of all three when they have just appeared.
void DeviceListModel::operationCellChanged(const DeviceRow* row, int column, bool appeared)
{
    cellChanged(row, appeared ? ColAction : column, appeared ? ColRetry : column);
}

void DeviceListModel::SetState(DeviceRow* row, DeviceState state)
{
    if (!row)
        return;
    const bool appeared = !row->hasOperationCells;
    ensureOperationCells(row);
    row->state = state;
    row->statusText.clear();
    operationCellChanged(row, ColStatus, appeared);
}

void DeviceListModel::SetStep(DeviceRow* row, DeviceStep step)
{
    if (!row)
        return;
    const bool appeared = !row->hasOperationCells;
    ensureOperationCells(row);
    row->step = step;
    row->actionText.clear();
    operationCellChanged(row, ColAction, appeared);
}

void DeviceListModel::SetRetries(DeviceRow* row, int retries)
{
    if (!row)
        return;
    const bool appeared = !row->hasOperationCells;
    ensureOperationCells(row);
    row->retries = retries;
    operationCellChanged(row, ColRetry, appeared);
}

void DeviceListModel::SetStatus(DeviceRow* row, const QString& text)
{
    if (!row)
        return;
    for (const StateText& t : StateTexts)
        if (text == QLatin1String(t.text)) {
            SetState(row, t.state);
            return;
        }
    const bool appeared = !row->hasOperationCells;
    ensureOperationCells(row);
    row->state = DeviceState::Other;
    row->statusText = text;
    operationCellChanged(row, ColStatus, appeared);
}

void DeviceListModel::SetAction(DeviceRow* row, const QString& text)
{
    if (!row)
        return;
    for (const StepText& t : StepTexts)
        if (text == QLatin1String(t.text)) {
            SetStep(row, t.step);
            return;
        }
    const bool appeared = !row->hasOperationCells;
    ensureOperationCells(row);
    row->step = DeviceStep::Other;
    row->actionText = text;
    operationCellChanged(row, ColAction, appeared);
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
    if (column >= ColAction && row->hasOperationCells) {
        if (column == ColAction)
            SetAction(row, text);
        else if (column == ColStatus)
            SetStatus(row, text);
        else
            SetRetries(row, retryCount(text));
        return 0;
    }
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
