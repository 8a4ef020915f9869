#include "app/RivuletModel.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include "store/File.h"
#include "store/ManagedObjectModel.h"

ManagedObjectModel *newRivuletModel()
{
    auto *model = new ManagedObjectModel;
    model->addEntity(QString::fromLatin1(Directory::kEntityName), [](ManagedObjectContext *c) { return new Directory(c); });
    model->addEntity(QString::fromLatin1(File::kEntityName), [](ManagedObjectContext *c) { return new File(c); });
    model->addEntity(QString::fromLatin1(Settings::kEntityName), [](ManagedObjectContext *c) { return new Settings(c); });
    return model;
}
