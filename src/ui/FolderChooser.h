#pragma once
// The folder chooser of the preferences window: opens at the home folder,
// and a folder the window would refuse is refused here already, with the
// window's notice, while the chooser stays open where the user was.
#include <QFileDialog>
#include <functional>

class FolderChooser : public QFileDialog {
    Q_OBJECT
public:
    static const QString kTitle;
    // acceptable: tells whether a chosen folder may be taken; when not, it
    // shows its own notice over the chooser it is handed.
    using Check = std::function<bool(const QString &chosen, QWidget *chooser)>;
    FolderChooser(QWidget *parent, Check acceptable);

public slots:
    void accept() override;

private:
    Check m_acceptable;
};

namespace FolderPaths {
// The path of a folder inside home (or home itself), cleaned; none otherwise.
std::optional<QByteArray> insideHome(const QString &chosen);
// A folder's path as shown to the user: the home folder written as "~".
QString displayPath(const QByteArray &path);
}
