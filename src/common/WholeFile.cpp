#include "common/WholeFile.h"

#include <QFile>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

bool WriteWholeFile(const QString& path, const QByteArray& data, QString* error)
{
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name"));
    QSaveFile file(path);
    // Unbuffered: a buffered write is only flushed when the file is committed, and a failure
    // of that flush would not stop the commit from putting a short file in place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return fail(reason);
        }
        done += n;
    }
#ifdef Q_OS_UNIX
    // Some file systems report a full disk only when the data reaches it.
    if (::fsync(file.handle()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return fail(reason);
    }
#endif
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

bool CopyWholeFile(const QString& from, const QString& path, QString* error)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = in.errorString();
        return false;
    }
    const QByteArray data = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        if (error)
            *error = in.errorString();
        return false;
    }
    return WriteWholeFile(path, data, error);
}
