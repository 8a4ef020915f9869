#pragma once
class ManagedObjectModel;
// The schema of the program's store: Directory, File and Settings records.
ManagedObjectModel *newRivuletModel();
