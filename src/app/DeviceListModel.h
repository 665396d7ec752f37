#pragma once

#include "app/DeviceState.h"
#include "common/MacAddress.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QHostAddress>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <cstdint>
#include <optional>
#include <vector>

class QItemSelectionModel;

class DeviceGrant;

// Where a device's run of an operation ended up, for the summary and for --json: the last
// command it was given, and what it had passed when the operation ended.
enum class DeviceMilestone : uint8_t {
    None,
    ImageFlashed,    // the device answered its firmware flash
    FactoryReset,    // the factory reset was sent after the flash
    ConfigRestored,  // its configuration was written to flash again after the factory reset
    ConfigFlashed,   // a configuration write reached the device's flash
    AddressSet,      // the device took the address it was given
};

// What a transfer of the console's TFTP server did for a device: its last one in this run.
struct DeviceTransfer
{
    bool happened = false;
    bool ok = false;
    QString file;
    QHostAddress peer;
    qint64 bytes = 0;
    qint64 blocksResent = 0;
    QString error; // the server's or the device's words when it failed
};

// The engine's bookkeeping of one device in the operation that runs: a reply can tell whether
// the device has moved on to another request since its own was sent, the TFTP grant it holds,
// and what the lists of the operation need to remember.
struct DeviceJob
{
    quint64 requestsSent = 0;
    // What the TFTP server lets the device do now (none: nothing). Revoked when it goes: when
    // the transfer's reply or deadline comes, and with the job at the end of the run.
    std::shared_ptr<DeviceGrant> tftpGrant;
    quint64 tftpGrantRequest = 0;   // the request (requestsSent) that the grant belongs to
    bool factoryResetSent = false;  // a firmware upgrade has factory reset the device
    QString versionBeforeUpgrade;   // the version it reported when the upgrade began
    uint8_t lastCommand = 0;        // the CommandType of the last request or check it got
    QString reason;                 // why it failed, in the device's or the console's words
    QString bound;                  // for a time-out: the settings that bound the step
    DeviceMilestone milestone = DeviceMilestone::None;
    DeviceTransfer transfer;
};

// One discovered device, as a record; the list's cells are made from it when they are shown.
// A fresh row has the cells its Discover answer held (Model Name to Device Name, at most);
// Action, Status and Retry come into being together on the first write of Action or Status,
// and are derived from the typed state below. Rows live until the list is cleared, so commands
// may hold a pointer to one for the length of an operation; a reply that may come later finds
// its row again by id.
struct DeviceRow
{
    // What the device reported of itself, exactly (untrusted: escaped where it is shown).
    QString caption;    // Model Name
    QString macText;    // Mac Address
    QString ip;         // IP Address (the device's Set IP writes it)
    QString netmask;    // Netmask
    QString fwShown;    // F/W Version as the window shows it ("Updated" after a flash)
    QString deviceName; // Device Name
    int discoveryCells = 0; // how many of the four-plus-one after Model Name the answer held
    int index = 0;  // position in the list; rows are only appended or all removed
    quint64 id = 0; // unique for the life of the list

    // What the device is, typed: its MAC (null when what it reported is no MAC), the version
    // it last reported itself (by Discover or Get Version; the F/W Version cell may show
    // "Updated" meanwhile).
    MacAddress mac;
    QString reportedVersion;
    // Where the device answered Discover from: its files are served there and at the address
    // the list shows for it (which only Discover and the device's own Set IP write), never
    // wherever some later reply came from.
    QHostAddress discoverSource;
    // The local interface the device answered Discover on, when Discover went out of chosen
    // interfaces (empty and 0 when requests go to NimpAddress as the routing table sends them):
    // every later request to the device leaves through it, and the device is told this
    // interface's address for the TFTP server.
    QString interfaceName;
    int interfaceIndex = 0;
    // Another answer to the same Discover claimed this MAC (from another address, or with
    // other values): nothing is sent to the device and nothing is served for it. The text
    // says what was heard.
    QString conflict;

    // The operation's state of the device: the Action, Status and Retry cells show it.
    bool hasOperationCells = false;
    DeviceState state = DeviceState::Other;
    QString statusText; // the text of an Other state
    DeviceStep step = DeviceStep::Other;
    QString actionText; // the text of an Other step
    int retries = 0;    // retries still allowed

    DeviceJob job;
};

// Where a row stands, from its Status: nothing yet, still in the running ("....." or ".."),
// finished "OK", or finished with any other text (a failure).
enum class DeviceOutcome
{
    None,
    Running,
    Ok,
    Failed
};

// The device list: the working state of every operation and the model a view shows.
// The selection lives in a QItemSelectionModel: the view's (over a sort/filter proxy of this
// model) in the window, a headless one over this model otherwise. The selection accessors
// below read it in the order the view shows (operations act on the rows in that order).
class DeviceListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role
    {
        // A key that sorts the column in the order a reader expects: IPv4 addresses and MACs
        // as numbers (qulonglong), other cells as their text.
        SortKeyRole = Qt::UserRole,
        // The row's DeviceOutcome as an int, the same in every column.
        OutcomeRole,
    };

    enum Column
    {
        ColModelName,
        ColMacAddress,
        ColIpAddress,
        ColNetmask,
        ColFwVersion,
        ColDeviceName,
        ColAction,
        ColStatus,
        ColRetry,
        ColumnCount
    };
    static const QStringList& ColumnNames();

    explicit DeviceListModel(QObject* parent = nullptr);
    ~DeviceListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int Count() const { return int(m_rows.size()); }
    DeviceRow* Row(int index) const;
    // A row from a Discover answer: the caption, then MAC, IP address, netmask, firmware
    // version and name as far as the answer held them (more are not kept).
    DeviceRow* AddRow(const QString& caption, const QStringList& values);
    void ClearRows();

    // The cell of a column, or nothing when the row does not have it yet.
    std::optional<QString> Cell(const DeviceRow* row, int column) const;

    // The selection model the accessors below use: one over this model or over a chain of
    // proxy models whose last source is this model. nullptr goes back to the headless one.
    void SetSelectionModel(QItemSelectionModel* selection);
    QItemSelectionModel* SelectionModel() const;

    // Selection. While locked (an operation runs) the selection cannot change, since replies
    // are matched against selected rows only: the rows selected when it was locked stay the
    // selection, whatever happens to the view meanwhile. A row the view does not show (a
    // filter hides it) cannot be selected; SelectAll selects the rows shown.
    void SetSelected(DeviceRow* row, bool selected);
    void SelectAll();
    void ClearSelection();
    // In the order the view shows them (list order when it shows the list as it is).
    QList<DeviceRow*> SelectedRows() const;
    int SelectedCount() const;
    void SetSelectionLocked(bool locked);
    bool SelectionLocked() const { return m_locked.has_value(); }

    DeviceOutcome Outcome(const DeviceRow* row) const;

    // The MAC as the device reported it (files and logs name the device by it).
    static QString MacText(const DeviceRow* row)
    {
        return row ? row->macText : QString();
    }

    // The row with this id, or none when the list was cleared since.
    DeviceRow* RowById(quint64 id) const;
    DeviceRow* FindSelectedItem(const QString& mac) const;
    // The row of the device that reported this MAC, or none.
    DeviceRow* FindByMac(const QString& mac) const { return m_byMac.value(mac, nullptr); }

    // Marks a row whose MAC was claimed by two answers: its Status reads ConflictStatusText and
    // its tool tip says what was heard.
    void SetConflict(DeviceRow* row, const QString& text);
    // The rows among these that must not be acted on, and why, one line each.
    static QStringList ConflictLines(const QList<DeviceRow*>& rows);
    bool IsSelected(const DeviceRow* row) const;

    // The typed state behind the Action, Status and Retry cells. Setting any of them makes the
    // three cells appear, as the first write of Action or Status does.
    DeviceState State(const DeviceRow* row) const { return row ? row->state : DeviceState::Other; }
    void SetState(DeviceRow* row, DeviceState state);
    DeviceStep Step(const DeviceRow* row) const { return row ? row->step : DeviceStep::Other; }
    void SetStep(DeviceRow* row, DeviceStep step);
    int Retries(const DeviceRow* row) const { return row ? row->retries : 0; }
    void SetRetries(DeviceRow* row, int retries);

    QString GetStatus(const DeviceRow* row) const;
    QString GetAction(const DeviceRow* row) const;
    void SetStatus(DeviceRow* row, const QString& text);
    void SetAction(DeviceRow* row, const QString& text);
    // One of the record's values from Model Name to Device Name, by its column; the cell
    // appears if the Discover answer did not hold it.
    void SetValue(DeviceRow* row, Column column, const QString& text);
    // By column name (the configuration window's bindings and tests).
    QString GetField(const DeviceRow* row, const QString& columnName) const;
    int SetField(DeviceRow* row, const QString& columnName, const QString& text);

signals:
    void selectionChanged();

private:
    void cellChanged(const DeviceRow* row, int firstColumn, int lastColumn);
    void ensureOperationCells(DeviceRow* row);
    void operationCellChanged(const DeviceRow* row, int column, bool appeared);
    // The index of the selection model's model that shows a row of this model (invalid when
    // the row is not shown), and the way back.
    QModelIndex toSelectionIndex(int sourceRow, int column) const;
    int toSourceRow(const QModelIndex& index) const;
    // The record's field behind a cell from Mac Address to Device Name.
    static QString* discoveryField(DeviceRow* row, int column);
    std::vector<char> selectedFlags() const;

    std::vector<std::unique_ptr<DeviceRow>> m_rows;
    std::unique_ptr<QItemSelectionModel> m_ownSelection;
    QPointer<QItemSelectionModel> m_selection;
    std::optional<QList<DeviceRow*>> m_locked;
    QSet<const DeviceRow*> m_lockedSet;
    QHash<quint64, DeviceRow*> m_byId;
    QHash<QString, DeviceRow*> m_byMac;
    quint64 m_nextId = 1;
};

// The tool tip of a row whose device answered Discover on a chosen interface (%1 its name).
inline constexpr const char* AnsweredOnText = "Answered on %1";

// The Status of a row whose MAC two answers to one Discover claimed.
inline constexpr const char* ConflictStatusText = "MAC conflict!";

// The answer of GetField for a column name or cell that does not exist.
inline constexpr const char* UnknownFieldText = "Unknown Field!";
