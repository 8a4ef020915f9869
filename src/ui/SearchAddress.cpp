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

bool isBuiltInPage(const QString &location)
{
    const QUrl url(location, QUrl::StrictMode);
    // The stored default names the port builds used to fix; the page now
    // listens where the kernel puts it.
    const QList<int> ports{47231, RIVULET_SEARCH_PORT};
    return url.isValid() && url.scheme() == QLatin1String("http") && url.host() == QLatin1String("127.0.0.1")
           && ports.contains(url.port()) && url.path() == QLatin1String("/search/search.html") && !url.hasQuery()
           && url.userInfo().isEmpty();
}

QString onThisRunsPage(const QString &location, const QUrl &pageUrl)
{
    if (!isBuiltInPage(location))
        return location;
    if (pageUrl.isEmpty())
        return {};
    const qsizetype hash = location.indexOf(QLatin1Char('#'));
    return pageUrl.toString(QUrl::FullyEncoded) + (hash < 0 ? QString() : location.mid(hash));
}

}
