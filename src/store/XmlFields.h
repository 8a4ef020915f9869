#pragma once
// Helpers for record fields as XML attributes. Names are bytes: a name that is
// not clean UTF-8 text (invalid bytes, control characters such as a newline)
// is written base64-encoded under "<key>64" so that it round-trips exactly.
#include "base/Date.h"
#include <QXmlStreamAttributes>
#include <QXmlStreamWriter>
#include <optional>

namespace XmlFields {
void writeBytes(QXmlStreamWriter &xml, const QString &key, const QByteArray &bytes);
bool readBytes(const QXmlStreamAttributes &attrs, const QString &key, QByteArray *out);
void writeDate(QXmlStreamWriter &xml, const QString &key, const std::optional<Date> &date);
bool readDate(const QXmlStreamAttributes &attrs, const QString &key, std::optional<Date> *out);
bool readULL(const QXmlStreamAttributes &attrs, const QString &key, qulonglong *out);
}
