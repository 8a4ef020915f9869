#include "ui/SearchAddress.h"

#include <QCoreApplication>
#include <QUrl>

namespace {
const QString kPlaceholder = QStringLiteral("%s");

QString tr(const char *text)
{
    return QCoreApplication::translate("SearchAddress", text);
}

// In place of "%s" the query is one value of the address (usually a query
// parameter), so everything but the unreserved characters is escaped:
// "a&b" must not end the value early.
QString escapedValue(const QString &query)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(query));
}
}

namespace SearchAddress {

QString escapedQuery(const QString &query)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(query, "/?:@&=+$,"));
}

QString forQuery(const QString &location, const QString &query)
{
    if (!location.contains(kPlaceholder))
        return location + escapedQuery(query);
    QString address = location;
    return address.replace(kPlaceholder, escapedValue(query));
}

QString problem(const QString &location)
{
    if (location.trimmed().isEmpty())
        return tr("The search address is empty.");
    // "%s" is not valid in a URL by itself: check the address a query makes.
    const QUrl url(forQuery(location, QStringLiteral("q")), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return tr("“%1” is not a valid web address.").arg(location);
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return tr("“%1” is not an http or https address: only web pages are opened for a search.").arg(location);
    if (url.host().isEmpty())
        return tr("“%1” names no web site.").arg(location);
    return {};
}

}
