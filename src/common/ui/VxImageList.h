#pragma once

#include <QIcon>
#include <QList>
#include <QObject>

// The pictures of a toolbar, by index; the layout loader can replace them (".Pictures").
class VxImageList : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    int Count() const { return int(m_images.size()); }
    QIcon Image(int index) const { return m_images.value(index); }
    void Append(const QIcon& icon) { m_images.append(icon); }
    void Replace(int index, const QIcon& icon)
    {
        if (index < 0 || index >= m_images.size())
            return;
        m_images[index] = icon;
        emit changed(index);
    }

signals:
    void changed(int index);

private:
    QList<QIcon> m_images;
};
