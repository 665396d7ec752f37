#include "app/ui/DeviceListProxy.h"

#include "app/DeviceListModel.h"

#include <QGuiApplication>
#include <QPalette>

namespace {

// The positive and negative colours of the theme: green and red, as light or dark as the
// theme's text, so that they read on its background.
QColor outcomeColour(bool positive)
{
    const QPalette palette = QGuiApplication::palette();
    const bool darkTheme = palette.color(QPalette::Base).lightness() < 128;
    const int hue = positive ? 120 : 0;
    return QColor::fromHsl(hue, 200, darkTheme ? 170 : 85);
}

// Compares two runs of digits as numbers of any length.
int compareDigits(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == QLatin1Char('0'))
        a = a.mid(1);
    while (b.size() > 1 && b.front() == QLatin1Char('0'))
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

qsizetype runEnd(QStringView s, qsizetype from)
{
    const bool digits = s.at(from).isDigit();
    qsizetype i = from;
    while (i < s.size() && s.at(i).isDigit() == digits)
        ++i;
    return i;
}

} // namespace

bool NaturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const qsizetype ie = runEnd(a, i);
        const qsizetype je = runEnd(b, j);
        const QStringView ra = QStringView(a).mid(i, ie - i);
        const QStringView rb = QStringView(b).mid(j, je - j);
        int c = 0;
        if (ra.front().isDigit() && rb.front().isDigit())
            c = compareDigits(ra, rb);
        else
            c = ra.compare(rb, Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
        i = ie;
        j = je;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    return a < b;
}

DeviceListProxy::DeviceListProxy(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortRole(DeviceListModel::SortKeyRole);
    setDynamicSortFilter(true);
    for (int c = 0; c < DeviceListModel::ColumnCount; ++c)
        m_filterColumns.insert(c);
}

void DeviceListProxy::SetFilterText(const QString& text)
{
    if (text == m_filterText)
        return;
    m_filterText = text;
    invalidateFilter();
}

void DeviceListProxy::SetFilterColumns(const QSet<int>& columns)
{
    if (columns == m_filterColumns)
        return;
    m_filterColumns = columns;
    invalidateFilter();
}

QVariant DeviceListProxy::data(const QModelIndex& index, int role) const
{
    if (role == Qt::ForegroundRole) {
        const int outcome =
            QSortFilterProxyModel::data(index, DeviceListModel::OutcomeRole).toInt();
        if (outcome == int(DeviceOutcome::Ok))
            return outcomeColour(true);
        if (outcome == int(DeviceOutcome::Failed))
            return outcomeColour(false);
        return {};
    }
    return QSortFilterProxyModel::data(index, role);
}

bool DeviceListProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (m_filterText.isEmpty())
        return true;
    const QAbstractItemModel* source = sourceModel();
    for (int c : m_filterColumns) {
        const QString cell = source->data(source->index(sourceRow, c, sourceParent)).toString();
        if (cell.contains(m_filterText, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool DeviceListProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const QVariant a = left.data(sortRole());
    const QVariant b = right.data(sortRole());
    // Missing cells first, then numbers, then text.
    const auto rank = [](const QVariant& v) {
        if (!v.isValid())
            return 0;
        return v.typeId() == QMetaType::ULongLong ? 1 : 2;
    };
    if (rank(a) != rank(b))
        return rank(a) < rank(b);
    if (rank(a) == 1)
        return a.toULongLong() < b.toULongLong();
    return NaturalLess(a.toString(), b.toString());
}
