#pragma once
// The schema: which record types exist and how to make an empty one.
#include <QHash>
#include <QString>
#include <functional>

class ManagedObject;
class ManagedObjectContext;

class ManagedObjectModel {
public:
    using Factory = std::function<ManagedObject *(ManagedObjectContext *)>;
    void addEntity(const QString &name, Factory factory) { m_entities.insert(name, std::move(factory)); }
    bool hasEntity(const QString &name) const { return m_entities.contains(name); }
    ManagedObject *make(const QString &name, ManagedObjectContext *ctx) const
    {
        auto it = m_entities.find(name);
        return it == m_entities.end() ? nullptr : (*it)(ctx);
    }

private:
    QHash<QString, Factory> m_entities;
};
