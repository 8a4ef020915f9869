#pragma once
// The fixture's differ on <base>/Downloads, started and watching.
#include "DifferFixture.h"

inline QString startOnDownloads(DifferFixture &f, DirectoryDiffer::Timings t = DifferFixture::fast(), quint64 lastId = 0)
{
    const QString root = f.base + QStringLiteral("/Downloads");
    f.open({root}, {}, t);
    f.startAndWait(lastId);
    return root;
}
