#pragma once
// Whether one path lies inside another, by path components: "/a/bc" is not
// inside "/a/b", which a plain prefix test would wrongly say it is.
#include <QByteArray>

inline bool pathIsInside(const QByteArray &path, const QByteArray &folder)
{
    if (!path.startsWith(folder))
        return false;
    return path.size() == folder.size() || path.at(folder.size()) == '/' || folder.endsWith('/');
}

// The path without its last component ("/a/b" -> "/a", "/a" -> "/").
inline QByteArray parentPath(const QByteArray &path)
{
    const int slash = int(path.lastIndexOf('/'));
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

inline QByteArray leafName(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}
