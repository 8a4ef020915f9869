#pragma once
// The schema: which record types exist and how to make an empty one.
#include <QByteArray>
#include <QString>
#include <cstring>
#include <functional>
#include <vector>

class ManagedObject;
class ManagedObjectContext;

class ManagedObjectModel {
public:
    using Factory = std::function<ManagedObject *(ManagedObjectContext *)>;
    void addEntity(const QString &name, Factory factory) { m_entities.push_back({name.toUtf8(), std::move(factory)}); }
    bool hasEntity(const QString &name) const { return indexOf(name.toUtf8().constData()) >= 0; }
    // The entity's position in the schema, or -1 when there is none.
    int indexOf(const char *name) const
    {
        for (size_t i = 0; i < m_entities.size(); ++i)
            if (std::strcmp(m_entities[i].name.constData(), name) == 0)
                return int(i);
        return -1;
    }
    const char *entityName(int index) const { return m_entities[size_t(index)].name.constData(); }
    ManagedObject *make(int index, ManagedObjectContext *ctx) const { return m_entities[size_t(index)].factory(ctx); }
    ManagedObject *make(const QString &name, ManagedObjectContext *ctx) const
    {
        const int i = indexOf(name.toUtf8().constData());
        return i < 0 ? nullptr : make(i, ctx);
    }

private:
    struct Entity {
        QByteArray name;
        Factory factory;
    };
    std::vector<Entity> m_entities;
};
