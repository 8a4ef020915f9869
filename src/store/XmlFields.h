#pragma once
// Record fields as XML attributes. Names are bytes: a name that XML cannot
// carry as text (bytes that are not UTF-8, control characters such as a
// newline, code points XML 1.0 forbids such as U+FFFF) is written
// base64-encoded under "<key>64" so that it round-trips exactly.
//
// RecordWriter appends one record element to the store's bytes; RecordFields
// is one loaded record's attributes, already unescaped, as UTF-8 bytes.
#include "base/Date.h"
#include <QByteArray>
#include <QXmlStreamAttributes>
#include <QXmlStreamWriter>
#include <optional>

namespace XmlFields {
// True when the bytes are UTF-8 text that an XML 1.0 attribute keeps exactly.
bool isXmlText(const char *bytes, qsizetype size);
// Plain decimal digits (with a leading '-' for signed), as the store writes them.
bool parseULL(const char *text, qulonglong *out);
bool parseLL(const char *text, qlonglong *out);

// For records written through QXmlStreamWriter.
void writeBytes(QXmlStreamWriter &xml, const QString &key, const QByteArray &bytes);
bool readBytes(const QXmlStreamAttributes &attrs, const QString &key, QByteArray *out);
void writeDate(QXmlStreamWriter &xml, const QString &key, const std::optional<Date> &date);
bool readDate(const QXmlStreamAttributes &attrs, const QString &key, std::optional<Date> *out);
bool readULL(const QXmlStreamAttributes &attrs, const QString &key, qulonglong *out);
}

// Writes records to a file descriptor through a buffer of its own, so that a
// save needs no copy of the whole file in memory.
class RecordWriter {
public:
    explicit RecordWriter(int fd);
    void begin(const char *entity, qulonglong id);
    void end() { put("/>\n", 3); }
    // An attribute whose value is known to be text XML can carry.
    void text(const char *key, const char *value, qsizetype size);
    void bytes(const char *key, const QByteArray &value);
    void date(const char *key, const std::optional<Date> &date);
    void number(const char *key, qulonglong value);
    // Attributes already written as XML (key="value" pairs, escaped).
    void raw(const QByteArray &attributes);
    void put(const char *data, qsizetype size);
    // Writes what is buffered; the errno of the first failed write, or 0.
    int finish();

private:
    void reserve(qsizetype size);
    void flush();
    void key(const char *key);
    int m_fd;
    int m_error = 0;
    QByteArray m_buffer;
    qsizetype m_used = 0;
};

class RecordFields {
public:
    static constexpr int kMax = 16;
    // Each name and value is NUL-terminated; both stay valid while the record is read.
    bool add(const char *name, const char *value);
    int count() const { return m_count; }
    const char *name(int i) const { return m_names[i]; }
    const char *value(int i) const { return m_values[i]; }
    // The value of the attribute, or nullptr when the record has none.
    const char *value(const char *key) const;

    bool bytes(const char *key, QByteArray *out) const;
    bool date(const char *key, std::optional<Date> *out) const; // absent reads as none
    bool number(const char *key, qulonglong *out) const;
    QXmlStreamAttributes toXmlStreamAttributes() const;

private:
    int m_count = 0;
    const char *m_names[kMax];
    const char *m_values[kMax];
};
