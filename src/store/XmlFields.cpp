#include "store/XmlFields.h"

namespace XmlFields {

static bool isCleanText(const QByteArray &bytes, QString *text)
{
    for (char c : bytes)
        if (uchar(c) < 0x20 || c == 0x7f)
            return false;
    *text = QString::fromUtf8(bytes);
    return text->toUtf8() == bytes;
}

void writeBytes(QXmlStreamWriter &xml, const QString &key, const QByteArray &bytes)
{
    QString text;
    if (isCleanText(bytes, &text))
        xml.writeAttribute(key, text);
    else
        xml.writeAttribute(key + QLatin1String("64"), QString::fromLatin1(bytes.toBase64()));
}

bool readBytes(const QXmlStreamAttributes &attrs, const QString &key, QByteArray *out)
{
    if (attrs.hasAttribute(key)) {
        *out = attrs.value(key).toUtf8();
        return true;
    }
    const QString key64 = key + QLatin1String("64");
    if (attrs.hasAttribute(key64)) {
        auto decoded = QByteArray::fromBase64Encoding(attrs.value(key64).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        *out = *decoded;
        return true;
    }
    return false;
}

void writeDate(QXmlStreamWriter &xml, const QString &key, const std::optional<Date> &date)
{
    if (date)
        xml.writeAttribute(key, QString::number(dateToNanos(*date)));
}

bool readDate(const QXmlStreamAttributes &attrs, const QString &key, std::optional<Date> *out)
{
    if (!attrs.hasAttribute(key)) {
        out->reset();
        return true;
    }
    bool ok = false;
    const qint64 ns = attrs.value(key).toLongLong(&ok);
    if (!ok)
        return false;
    *out = dateFromNanos(ns);
    return true;
}

bool readULL(const QXmlStreamAttributes &attrs, const QString &key, qulonglong *out)
{
    bool ok = false;
    *out = attrs.value(key).toULongLong(&ok);
    return ok;
}

} // namespace XmlFields
