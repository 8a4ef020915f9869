#include "ui/FolderChooser.h"
#include "base/StandardFolders.h"

#include <QDir>

const QString FolderChooser::kTitle = QStringLiteral("Choose a Folder to Watch");

FolderChooser::FolderChooser(QWidget *parent, Check acceptable)
    : QFileDialog(parent), m_acceptable(std::move(acceptable))
{
    setObjectName(QStringLiteral("FolderChooser"));
    setWindowTitle(tr("Choose a Folder to Watch"));
    setFileMode(QFileDialog::Directory);
    // The toolkit's own chooser, so that a refused folder can keep it open.
    setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    setDirectory(QDir::homePath());
    setLabelText(QFileDialog::Accept, tr("&Watch"));
}

void FolderChooser::accept()
{
    const QStringList chosen = selectedFiles();
    if (!chosen.isEmpty() && m_acceptable && !m_acceptable(chosen.first(), this))
        return;
    QFileDialog::accept();
}

namespace FolderPaths {

std::optional<QByteArray> insideHome(const QString &chosen)
{
    const std::optional<QByteArray> path = StandardFolders::cleanAbsolutePath(QFile::encodeName(chosen));
    const QByteArray home = StandardFolders::home();
    if (!path || (*path != home && !path->startsWith(home + '/')))
        return std::nullopt;
    return path;
}

QString displayPath(const QByteArray &path)
{
    const QByteArray home = StandardFolders::home();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + '/'))
        return QStringLiteral("~") + QFile::decodeName(path.mid(home.size()));
    return QFile::decodeName(path);
}

}
