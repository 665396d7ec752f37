#include "common/WholeFile.h"

#include <QSaveFile>

#ifdef Q_OS_UNIX
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
        file.cancelWriting();
        return fail(QStringLiteral("the data could not be stored"));
    }
#endif
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
