#pragma once
// The music search address: the search location with the escaped query in
// place of "%s", or appended when the location has no "%s". Only http and
// https addresses are ever opened.
#include <QString>

namespace SearchAddress {
// The query escaped for appending: space, control and non-ASCII characters
// become %XX of their UTF-8 bytes; letters, digits and / ? : @ & = + $ , stay.
QString escapedQuery(const QString &query);
// The address to open for a query at a location.
QString forQuery(const QString &location, const QString &query);
// Why a location cannot be used as a search address, or an empty string
// when it can: it must be a valid http or https URL with a host.
QString problem(const QString &location);
}
