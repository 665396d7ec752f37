#pragma once

#include <QAbstractTableModel>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// One discovered device: the caption ("Model Name") and the sub-items after it. A fresh row
// has sub-items 0 to 4; Action, Status and Retry (5 to 7) come into being together on the
// first write of Action or Status. Rows live until the list is cleared, so commands may hold
// a pointer to one for the length of an operation.
struct DeviceRow
{
    QString caption;
    QStringList subItems;
    bool selected = false;
    int index = 0; // position in the list; rows are only appended or all removed
    // Requests sent for the row so far: a reply can tell whether the row has moved on to
    // another request since its own was sent.
    quint64 requestsSent = 0;
    // Where the device's latest NIMP reply came from (null before the first): the address its
    // TFTP requests are expected from.
    QHostAddress replyAddress;
};

// The device list: the working state of every operation and the model a view shows.
// The selection is kept here, not in a view, so that headless code can select and walk rows.
class DeviceListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
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
    DeviceRow* AddRow(const QString& caption, const QStringList& subItems);
    void ClearRows();

    // The cell of a column, or nothing when the row does not have it yet.
    std::optional<QString> Cell(const DeviceRow* row, int column) const;

    // Selection. While locked (an operation runs) the selection cannot change, since replies
    // are matched against selected rows only.
    void SetSelected(DeviceRow* row, bool selected);
    void SelectAll();
    void ClearSelection();
    QList<DeviceRow*> SelectedRows() const; // in list order
    int SelectedCount() const;
    void SetSelectionLocked(bool locked) { m_selectionLocked = locked; }
    bool SelectionLocked() const { return m_selectionLocked; }

    DeviceRow* FindSelectedItem(const QString& mac) const;
    QString GetStatus(const DeviceRow* row) const;
    QString GetAction(const DeviceRow* row) const;
    void SetStatus(DeviceRow* row, const QString& text);
    void SetAction(DeviceRow* row, const QString& text);
    QString GetField(const DeviceRow* row, const QString& columnName) const;
    int SetField(DeviceRow* row, const QString& columnName, const QString& text);

signals:
    void selectionChanged();

private:
    void cellChanged(const DeviceRow* row, int firstColumn, int lastColumn);
    void setSub(DeviceRow* row, int subIndex, const QString& text);

    std::vector<std::unique_ptr<DeviceRow>> m_rows;
    bool m_selectionLocked = false;
};

// The answer of GetField for a column name or cell that does not exist.
inline constexpr const char* UnknownFieldText = "Unknown Field!";
