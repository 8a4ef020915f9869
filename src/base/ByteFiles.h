#pragma once
// File operations on byte paths. Names on Linux are bytes and need not be
// UTF-8, so nothing here turns a path into text: folders are listed with
// readdir, items moved with renameat and deleted with unlinkat, and links
// are never followed (a link inside a tree is removed, not what it names).
#include <QByteArray>
#include <QList>
#include <functional>
#include <optional>

namespace ByteFiles {

// The names in a folder, "." and ".." left out; none when it cannot be listed.
std::optional<QList<QByteArray>> listNames(const QByteArray &folder);

// Makes a folder and its missing parents (mode 0700 for new ones); true when it is a folder.
bool makePath(const QByteArray &path);

// Deletes a file, a link, or a folder with everything in it. A folder is
// entered by descriptor without following links, so a link planted in the
// tree cannot lead the deletion elsewhere; folders of this user's that are
// read-only are made writable first. Any depth is removed with a few
// descriptors. True when nothing is left; a failure is logged.
bool removeTree(const QByteArray &path);

// What a tree holds: bytes (the larger of each item's length and the blocks
// it takes), entries, folders among them, and the deepest level (entries of
// the folder itself are level 1), links not followed. Not complete when a
// part could not be read: such a tree counts as past every bound.
struct TreeShape {
    quint64 bytes = 0;
    qint64 entries = 0;
    qint64 folders = 0;
    int depth = 0;
    bool complete = true;
    bool exceeds(const TreeShape &bound) const;
};
// Measured while a tool writes into it: with stopPast, the walk stops as
// soon as the shape exceeds it.
TreeShape measureTree(const QByteArray &path, const std::optional<TreeShape> &stopPast = std::nullopt);
// The bytes of measureTree, or the largest number when a part could not be read.
quint64 treeSize(const QByteArray &path);

// Renames name in one folder to name in another (renameat); 0 or the errno.
int moveItem(const QByteArray &fromFolder, const QByteArray &name, const QByteArray &toFolder, const QByteArray &toName);

// Copies a tree to a path that does not exist yet (folders, regular files
// and links as links, each with its modification time), then reads every copied file back and compares it
// with its source. False when anything was not copied exactly; the copy
// is then removed again and the source is left as it is.
bool copyTreeVerified(const QByteArray &from, const QByteArray &to);

// The path with its folder resolved (links and "..") and its last name kept
// as it is, so that a link is judged where it stands, not where it points.
// None when the folder does not exist or the last name is "." or "..".
std::optional<QByteArray> resolvedLocation(const QByteArray &path);

// True when path, resolved as above, lies inside folder (resolved fully),
// compared by whole path components.
bool staysInside(const QByteArray &path, const QByteArray &folder);

// Sets every modification time in the tree that lies after now to now,
// links not followed: an archive's entries may carry any date, and one in
// the future would look newer than every later scan.
void clampFutureTimes(const QByteArray &path);

// Readies a tree a tool unpacked for moving: future times clamped as above,
// folders made writable for their owner, and links whose target lies
// outside the tree (absolute, climbing out, or dangling) removed, each
// reported to linkRemoved with its name and target.
void settleUnpackedTree(const QByteArray &path, const std::function<void(const QByteArray &name, const QByteArray &target)> &linkRemoved);

// Kind of item at a path, links not followed.
bool isFolder(const QByteArray &path);
bool isRegularFile(const QByteArray &path);
bool exists(const QByteArray &path);

} // namespace ByteFiles
