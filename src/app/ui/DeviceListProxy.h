#pragma once

#include <QSet>
#include <QSortFilterProxyModel>

// What the device table shows of the device list: sorted by a clicked column (addresses and
// MACs as numbers, versions and other text in natural order), filtered by a text that any
// shown column may contain, and the rows coloured by their outcome in the theme's colours.
class DeviceListProxy : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit DeviceListProxy(QObject* parent = nullptr);

    // Shows only the rows that hold the text (either case) in one of the filter columns;
    // the empty text shows every row.
    void SetFilterText(const QString& text);
    // The columns the filter text is looked for in (the columns the view shows).
    void SetFilterColumns(const QSet<int>& columns);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    QString m_filterText;
    QSet<int> m_filterColumns;
};

// Natural order: runs of digits compare as numbers ("1.2.9" before "1.2.10"), the rest
// without regard to case.
bool NaturalLess(const QString& a, const QString& b);
