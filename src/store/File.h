#pragma once
// One remembered file: its absolute path, and its modification date and
// size when it was recorded (size 0 marks a file that was still empty).
#include "base/Date.h"
#include "store/ManagedObject.h"
#include <optional>

class Directory;

class File : public ManagedObject {
public:
    using ManagedObject::ManagedObject;
    static constexpr const char *kEntityName = "File";
    QString entityName() const override { return QString::fromLatin1(kEntityName); }

    QByteArray name() const;
    void setName(const QByteArray &name);
    std::optional<Date> modified() const;
    void setModified(const std::optional<Date> &date);
    quint64 size() const;
    void setSize(quint64 size);
    Directory *directory() const;

    QVariant valueForKey(const QString &key) const override;
    void setValueForKey(const QVariant &value, const QString &key) override;
    void writeRecord(RecordWriter &out, const IdOf &idOf) const override;
    bool readRecord(const RecordFields &fields, const ObjectFor &objectFor, QString *reason) override;
    const ManagedObject *owner(bool *required) const override;

protected:
    void willBeDeleted() override;

private:
    friend class Directory;
    QByteArray m_name;
    std::optional<Date> m_modified;
    quint64 m_size = 0;
    Directory *m_directory = nullptr;
};
Q_DECLARE_METATYPE(File *)
