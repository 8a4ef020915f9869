#include "base/Date.h"
#include <QDateTime>
#include <QTimeZone>

QString formatDate(const Date &d)
{
    const qint64 ns = dateToNanos(d);
    const qint64 ms = ns / 1000000 - ((ns % 1000000) < 0 ? 1 : 0);
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + QStringLiteral(" +0000");
}
