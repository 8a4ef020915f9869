#include "store/XmlFields.h"
#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace XmlFields {

bool isXmlText(const char *bytes, qsizetype size)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes);
    const uchar *end = p + size;
    while (p < end) {
        const uchar c = *p;
        if (c < 0x80) {
            // Control characters would not survive an attribute (tabs and
            // line ends are turned into spaces when read).
            if (c < 0x20 || c == 0x7f)
                return false;
            ++p;
            continue;
        }
        int extra;
        char32_t cp;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3f);
        }
        // Overlong forms, surrogates, beyond U+10FFFF, and U+FFFE/U+FFFF
        // (which XML 1.0 does not allow) are not text.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)
            || cp == 0xfffe || cp == 0xffff)
            return false;
        p += extra + 1;
    }
    return true;
}

static const char *skipSpace(const char *p)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
        ++p;
    return p;
}

bool parseULL(const char *text, qulonglong *out)
{
    const char *p = skipSpace(text);
    const char *end = p + std::strlen(p);
    const auto [ptr, ec] = std::from_chars(p, end, *out);
    return ec == std::errc() && ptr != p && *skipSpace(ptr) == '\0';
}

bool parseLL(const char *text, qlonglong *out)
{
    const char *p = skipSpace(text);
    const char *end = p + std::strlen(p);
    const auto [ptr, ec] = std::from_chars(p, end, *out);
    return ec == std::errc() && ptr != p && *skipSpace(ptr) == '\0';
}

void writeBytes(QXmlStreamWriter &xml, const QString &key, const QByteArray &bytes)
{
    if (isXmlText(bytes.constData(), bytes.size()))
        xml.writeAttribute(key, QString::fromUtf8(bytes));
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

RecordWriter::RecordWriter(int fd) : m_fd(fd)
{
    m_buffer.resize(256 * 1024);
}

void RecordWriter::flush()
{
    const char *data = m_buffer.constData();
    qsizetype left = m_used;
    while (left > 0 && !m_error) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n < 0 && errno != EINTR)
            m_error = errno;
        if (n > 0) {
            data += n;
            left -= n;
        }
    }
    m_used = 0;
}

void RecordWriter::reserve(qsizetype size)
{
    if (m_used + size <= m_buffer.size())
        return;
    flush();
    if (size > m_buffer.size())
        m_buffer.resize(size);
}

void RecordWriter::put(const char *data, qsizetype size)
{
    reserve(size);
    std::memcpy(m_buffer.data() + m_used, data, size_t(size));
    m_used += size;
}

int RecordWriter::finish()
{
    flush();
    return m_error;
}

void RecordWriter::key(const char *key)
{
    const size_t n = std::strlen(key);
    reserve(qsizetype(n) + 3);
    char *p = m_buffer.data() + m_used;
    *p++ = ' ';
    std::memcpy(p, key, n);
    p += n;
    *p++ = '=';
    *p++ = '"';
    m_used += qsizetype(n) + 3;
}

void RecordWriter::begin(const char *entity, qulonglong id)
{
    put("    <record entity=\"", 20);
    put(entity, qsizetype(std::strlen(entity)));
    put("\"", 1);
    number("id", id);
}

void RecordWriter::text(const char *name, const char *value, qsizetype size)
{
    key(name);
    // Every byte escaped takes at most six ("&quot;").
    reserve(size * 6 + 1);
    char *p = m_buffer.data() + m_used;
    for (const char *v = value, *end = value + size; v < end; ++v) {
        const char *entity;
        qsizetype length;
        switch (*v) {
        case '&': entity = "&amp;", length = 5; break;
        case '<': entity = "&lt;", length = 4; break;
        case '>': entity = "&gt;", length = 4; break;
        case '"': entity = "&quot;", length = 6; break;
        case '\t': entity = "&#9;", length = 4; break;
        case '\n': entity = "&#10;", length = 5; break;
        case '\r': entity = "&#13;", length = 5; break;
        default: *p++ = *v; continue;
        }
        std::memcpy(p, entity, size_t(length));
        p += length;
    }
    *p++ = '"';
    m_used = p - m_buffer.data();
}

void RecordWriter::bytes(const char *name, const QByteArray &value)
{
    if (XmlFields::isXmlText(value.constData(), value.size())) {
        text(name, value.constData(), value.size());
        return;
    }
    const QByteArray encoded = value.toBase64();
    const QByteArray key64 = QByteArray(name) + "64";
    key(key64.constData());
    put(encoded.constData(), encoded.size());
    put("\"", 1);
}

void RecordWriter::date(const char *name, const std::optional<Date> &date)
{
    if (!date)
        return;
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, qlonglong(dateToNanos(*date)));
    text(name, digits, r.ptr - digits);
}

void RecordWriter::number(const char *name, qulonglong value)
{
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    text(name, digits, r.ptr - digits);
}

void RecordWriter::raw(const QByteArray &attributes)
{
    if (attributes.isEmpty())
        return;
    put(" ", 1);
    put(attributes.constData(), attributes.size());
}

bool RecordFields::add(const char *name, const char *value)
{
    if (m_count == kMax)
        return false;
    m_names[m_count] = name;
    m_values[m_count] = value;
    ++m_count;
    return true;
}

const char *RecordFields::value(const char *key) const
{
    for (int i = 0; i < m_count; ++i)
        if (std::strcmp(m_names[i], key) == 0)
            return m_values[i];
    return nullptr;
}

bool RecordFields::bytes(const char *key, QByteArray *out) const
{
    if (const char *v = value(key)) {
        *out = QByteArray(v);
        return true;
    }
    char key64[64];
    const size_t n = std::strlen(key);
    if (n + 3 > sizeof key64)
        return false;
    std::memcpy(key64, key, n);
    std::memcpy(key64 + n, "64", 3);
    if (const char *v = value(key64)) {
        auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromRawData(v, qsizetype(std::strlen(v))), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        *out = *decoded;
        return true;
    }
    return false;
}

bool RecordFields::date(const char *key, std::optional<Date> *out) const
{
    const char *v = value(key);
    if (!v) {
        out->reset();
        return true;
    }
    qlonglong ns = 0;
    if (!XmlFields::parseLL(v, &ns))
        return false;
    *out = dateFromNanos(ns);
    return true;
}

bool RecordFields::number(const char *key, qulonglong *out) const
{
    const char *v = value(key);
    return v && XmlFields::parseULL(v, out);
}

QXmlStreamAttributes RecordFields::toXmlStreamAttributes() const
{
    QXmlStreamAttributes attrs;
    for (int i = 0; i < m_count; ++i)
        attrs.append(QString::fromUtf8(m_names[i]), QString::fromUtf8(m_values[i]));
    return attrs;
}
