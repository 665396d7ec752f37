#include "app/DeviceListModel.h"

#include "common/AddressCheck.h"
#include "common/TextHelpers.h"

#include <QAbstractProxyModel>
#include <QItemSelectionModel>
#include <algorithm>

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

std::optional<DeviceState> DeviceStateFromText(const QString& text)
{
    for (const StateText& t : StateTexts)
        if (text == QLatin1String(t.text))
            return t.state;
    return std::nullopt;
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

DeviceListModel::DeviceListModel(QObject* parent)
    : QAbstractTableModel(parent), m_ownSelection(std::make_unique<QItemSelectionModel>(this))
{
    SetSelectionModel(nullptr);
}

DeviceListModel::~DeviceListModel()
{
    if (m_selection)
        disconnect(m_selection, nullptr, this, nullptr);
}

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
    if (!index.isValid() || index.row() >= Count())
        return {};
    const DeviceRow* row = m_rows[size_t(index.row())].get();
    if (role == OutcomeRole)
        return int(Outcome(row));
    if (role == Qt::ToolTipRole) {
        QStringList tip;
        if (!row->conflict.isEmpty())
            tip.append(row->conflict); // escaped when it was made
        else if (index.column() == ColStatus && !row->job.reason.isEmpty())
            tip.append(EscapeUntrusted(row->job.reason));
        if (!row->interfaceName.isEmpty())
            tip.append(QString::fromLatin1(AnsweredOnText).arg(row->interfaceName));
        return tip.isEmpty() ? QVariant() : QVariant(tip.join(QLatin1Char('\n')));
    }
    if (role != Qt::DisplayRole && role != SortKeyRole)
        return {};
    const std::optional<QString> cell = Cell(row, index.column());
    if (!cell)
        return {};
    if (role == SortKeyRole) {
        std::optional<qulonglong> number;
        if (index.column() == ColIpAddress || index.column() == ColNetmask) {
            if (const std::optional<quint32> address = ParseDottedIPv4(*cell))
                number = *address;
        } else if (index.column() == ColMacAddress) {
            if (const std::optional<MacAddress> mac = MacAddress::Parse(*cell))
                number = mac->ToNumber();
        }
        if (number)
            return *number;
    }
    // Cells hold what devices reported, exactly (GetField compares it); the view shows it
    // with whatever does not print escaped.
    return role == Qt::DisplayRole ? QVariant(EscapeUntrusted(*cell)) : QVariant(*cell);
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

DeviceRow* DeviceListModel::AddRow(const QString& caption, const QStringList& values)
{
    auto row = std::make_unique<DeviceRow>();
    row->caption = caption;
    row->discoveryCells = int(std::min<qsizetype>(values.size(), DiscoverySubItems));
    for (int i = 0; i < row->discoveryCells; ++i)
        *discoveryField(row.get(), i + 1) = values.at(i);
    row->reportedVersion = row->fwShown;
    row->index = Count();
    row->id = m_nextId++;
    if (!values.isEmpty()) {
        if (const std::optional<MacAddress> mac = MacAddress::Parse(row->macText))
            row->mac = *mac;
        if (!m_byMac.contains(row->macText))
            m_byMac.insert(row->macText, row.get());
    }
    m_byId.insert(row->id, row.get());
    beginInsertRows(QModelIndex(), row->index, row->index);
    m_rows.push_back(std::move(row));
    endInsertRows();
    return m_rows.back().get();
}

void DeviceListModel::ClearRows()
{
    m_locked.reset();
    m_lockedSet.clear();
    beginResetModel();
    m_byId.clear();
    m_byMac.clear();
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
    if (column - 1 >= row->discoveryCells)
        return std::nullopt;
    return *discoveryField(const_cast<DeviceRow*>(row), column);
}

QString* DeviceListModel::discoveryField(DeviceRow* row, int column)
{
    switch (column) {
    case ColMacAddress:
        return &row->macText;
    case ColIpAddress:
        return &row->ip;
    case ColNetmask:
        return &row->netmask;
    case ColFwVersion:
        return &row->fwShown;
    case ColDeviceName:
        return &row->deviceName;
    default:
        return nullptr;
    }
}

void DeviceListModel::SetSelectionModel(QItemSelectionModel* selection)
{
    if (m_selection)
        disconnect(m_selection, nullptr, this, nullptr);
    m_selection = selection ? selection : m_ownSelection.get();
    connect(m_selection, &QItemSelectionModel::selectionChanged, this,
            [this] { emit selectionChanged(); });
    // A view that goes away leaves the list with a selection of its own again.
    if (selection)
        connect(selection, &QObject::destroyed, this, [this] { SetSelectionModel(nullptr); });
    emit selectionChanged();
}

QItemSelectionModel* DeviceListModel::SelectionModel() const
{
    return m_selection ? m_selection.data() : m_ownSelection.get();
}

QModelIndex DeviceListModel::toSelectionIndex(int sourceRow, int column) const
{
    std::vector<const QAbstractProxyModel*> chain;
    const QAbstractItemModel* model = SelectionModel()->model();
    while (model && model != this) {
        const auto* proxy = qobject_cast<const QAbstractProxyModel*>(model);
        if (!proxy)
            return {};
        chain.push_back(proxy);
        model = proxy->sourceModel();
    }
    if (model != this)
        return {};
    QModelIndex at = index(sourceRow, column);
    for (auto it = chain.rbegin(); it != chain.rend() && at.isValid(); ++it)
        at = (*it)->mapFromSource(at);
    return at;
}

int DeviceListModel::toSourceRow(const QModelIndex& at) const
{
    QModelIndex i = at;
    while (i.isValid() && i.model() != this) {
        const auto* proxy = qobject_cast<const QAbstractProxyModel*>(i.model());
        if (!proxy)
            return -1;
        i = proxy->mapToSource(i);
    }
    return i.isValid() ? i.row() : -1;
}

std::vector<char> DeviceListModel::selectedFlags() const
{
    std::vector<char> flags(m_rows.size(), 0);
    const QItemSelection selection = SelectionModel()->selection();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid())
            continue;
        for (int r = range.top(); r <= range.bottom(); ++r) {
            const int source = toSourceRow(range.model()->index(r, range.left(), range.parent()));
            if (source >= 0 && size_t(source) < flags.size())
                flags[size_t(source)] = 1;
        }
    }
    return flags;
}

void DeviceListModel::SetSelected(DeviceRow* row, bool selected)
{
    if (!row || m_locked)
        return;
    const QModelIndex at = toSelectionIndex(row->index, 0);
    if (!at.isValid())
        return;
    SelectionModel()->select(
        at, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                QItemSelectionModel::Rows);
}

void DeviceListModel::SelectAll()
{
    if (m_locked)
        return;
    QItemSelectionModel* selection = SelectionModel();
    const QAbstractItemModel* shown = selection->model();
    const int rows = shown ? shown->rowCount() : 0;
    if (rows == 0)
        return;
    selection->select(QItemSelection(shown->index(0, 0), shown->index(rows - 1, 0)),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void DeviceListModel::ClearSelection()
{
    if (m_locked)
        return;
    SelectionModel()->clearSelection();
}

QList<DeviceRow*> DeviceListModel::SelectedRows() const
{
    if (m_locked)
        return *m_locked;
    std::vector<char> flags = selectedFlags();
    QList<DeviceRow*> out;
    const QItemSelectionModel* selection = SelectionModel();
    const QAbstractItemModel* shown = selection->model();
    if (shown && shown != this) {
        // The view's order: walk what it shows and map each row back.
        const int n = shown->rowCount();
        for (int r = 0; r < n; ++r) {
            const int source = toSourceRow(shown->index(r, 0));
            if (source >= 0 && size_t(source) < flags.size() && flags[size_t(source)]) {
                out.append(m_rows[size_t(source)].get());
                flags[size_t(source)] = 0;
            }
        }
        return out;
    }
    for (size_t i = 0; i < flags.size(); ++i)
        if (flags[i])
            out.append(m_rows[i].get());
    return out;
}

int DeviceListModel::SelectedCount() const
{
    if (m_locked)
        return int(m_locked->size());
    const std::vector<char> flags = selectedFlags();
    return int(std::count(flags.begin(), flags.end(), 1));
}

void DeviceListModel::SetSelectionLocked(bool locked)
{
    if (locked && !m_locked) {
        m_locked = SelectedRows();
        m_lockedSet = QSet<const DeviceRow*>(m_locked->cbegin(), m_locked->cend());
    } else if (!locked) {
        m_locked.reset();
        m_lockedSet.clear();
    }
}

DeviceOutcome DeviceListModel::Outcome(const DeviceRow* row) const
{
    if (!row || !row->hasOperationCells)
        return DeviceOutcome::None;
    switch (row->state) {
    case DeviceState::InRunning:
    case DeviceState::Pending:
        return DeviceOutcome::Running;
    case DeviceState::Ok:
        return DeviceOutcome::Ok;
    case DeviceState::Other:
        return row->statusText.isEmpty() ? DeviceOutcome::None : DeviceOutcome::Failed;
    default:
        return DeviceOutcome::Failed;
    }
}

bool DeviceListModel::IsSelected(const DeviceRow* row) const
{
    if (!row)
        return false;
    if (m_locked)
        return m_lockedSet.contains(row);
    const std::vector<char> flags = selectedFlags();
    return row->index >= 0 && size_t(row->index) < flags.size() && flags[size_t(row->index)];
}

DeviceRow* DeviceListModel::RowById(quint64 id) const
{
    return m_byId.value(id, nullptr);
}

DeviceRow* DeviceListModel::FindSelectedItem(const QString& mac) const
{
    const QList<DeviceRow*> rows = SelectedRows();
    for (DeviceRow* row : rows)
        if (row->discoveryCells > 0 && row->macText == mac)
            return row;
    return nullptr;
}

void DeviceListModel::SetConflict(DeviceRow* row, const QString& text)
{
    if (!row)
        return;
    row->conflict = text;
    SetStatus(row, QString::fromLatin1(ConflictStatusText));
}

QStringList DeviceListModel::ConflictLines(const QList<DeviceRow*>& rows)
{
    QStringList lines;
    for (const DeviceRow* row : rows)
        if (!row->conflict.isEmpty())
            lines.append(row->conflict);
    return lines;
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
    // The three operation cells appear together, after every cell of the discovery.
    row->discoveryCells = DiscoverySubItems;
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
    if (const std::optional<DeviceState> state = DeviceStateFromText(text)) {
        SetState(row, *state);
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
        *discoveryField(row, column) = text;
    cellChanged(row, column, column);
    return 0;
}

void DeviceListModel::SetValue(DeviceRow* row, Column column, const QString& text)
{
    if (!row || column > ColDeviceName)
        return;
    if (column == ColModelName)
        row->caption = text;
    else
        *discoveryField(row, column) = text;
    row->discoveryCells = std::max<int>(row->discoveryCells, column);
    cellChanged(row, column, column);
}

void DeviceListModel::cellChanged(const DeviceRow* row, int firstColumn, int lastColumn)
{
    // The Status decides the outcome role of every cell of the row.
    if (firstColumn <= ColStatus && ColStatus <= lastColumn) {
        firstColumn = 0;
        lastColumn = ColumnCount - 1;
    }
    emit dataChanged(index(row->index, firstColumn), index(row->index, lastColumn));
}
