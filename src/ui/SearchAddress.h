#pragma once
// The music search address: the search location with the escaped query in
// place of "%s", or appended when the location has no "%s". Only http and
// https addresses are ever opened.
#include <QString>
#include <QUrl>

namespace SearchAddress {
// The query escaped for appending: space, control and non-ASCII characters
// become %XX of their UTF-8 bytes; letters, digits and / ? : @ & = + $ , stay.
QString escapedQuery(const QString &query);
// The address to open for a query at a location.
QString forQuery(const QString &location, const QString &query);
// Why a location cannot be used as a search address, or an empty string
// when it can: it must be a valid http or https URL with a host.
QString problem(const QString &location);
// Whether a stored location means the built-in search page: the default,
// also as earlier versions stored it (a fixed loopback port).
bool isBuiltInPage(const QString &location);
// The location to search at in this run: the built-in page moved to pageUrl
// (this run's own listener), its fragment kept; empty when it is the built-in
// page and no page is served. Other locations are returned as they are.
QString onThisRunsPage(const QString &location, const QUrl &pageUrl);
}
