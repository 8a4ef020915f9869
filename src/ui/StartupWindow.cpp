#include "ui/StartupWindow.h"
#include "base/Log.h"
#include "settings/Settings.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

const QString StartupWindow::kQuestion = QStringLiteral(
    "To import songs whenever you're downloading music, Rivulet should start up when you log in to your computer. Would you like us to "
    "set this for you?");

StartupWindow::StartupWindow(std::function<void(bool)> answered, QWidget *parent) : TrackedWindow(parent), m_answered(std::move(answered))
{
    setWindowTitle(tr("Welcome to Rivulet"));
    setObjectName(QStringLiteral("StartupWindow"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 20);
    auto *icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/rivulet.png")).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setAlignment(Qt::AlignCenter);
    auto *title = new QLabel(tr("<b>Welcome to Rivulet</b>"), this);
    title->setAlignment(Qt::AlignCenter);
    auto *text = m_text = new QLabel(this);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setTrayPresent(true, QString());
    auto *button = new QPushButton(tr("Get Started"), this);
    button->setDefault(true);
    layout->addWidget(icon);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addWidget(button, 0, Qt::AlignCenter);
    setFixedWidth(380);
    connect(button, &QPushButton::clicked, this, &StartupWindow::buttonClicked);
}

void StartupWindow::setTrayPresent(bool present, const QString &hotkey)
{
    QString where;
    if (present)
        where = tr("It lives in the tray at the top of your screen.");
    else if (!hotkey.isEmpty())
        where = tr("This desktop has no tray for its icon: open it with %1, or with the command <code>rivulet --toggle</code> "
                   "bound to a key in your desktop's keyboard settings.")
                    .arg(hotkey.toHtmlEscaped());
    else
        where = tr("This desktop has no tray for its icon: open it with the command <code>rivulet --toggle</code>, "
                   "bound to a key in your desktop's keyboard settings.");
    m_text->setText(tr("Rivulet imports the music you download into your music library, in the playlist \"Rivulet\". ") + where);
}

QString StartupWindow::introduction() const
{
    return m_text->text();
}

void StartupWindow::buttonClicked()
{
    m_sheet = new QMessageBox(this);
    m_sheet->setText(QStringLiteral("This is important"));
    m_sheet->setInformativeText(kQuestion);
    QPushButton *yes = m_sheet->addButton(tr("Yes"), QMessageBox::YesRole);
    m_sheet->addButton(tr("No"), QMessageBox::NoRole);
    m_sheet->setDefaultButton(yes);
    m_sheet->setWindowModality(Qt::WindowModal);
    m_sheet->installEventFilter(this);
    m_sheetCancelled = false;
    connect(m_sheet, &QMessageBox::finished, this, [this, yes] {
        const bool cancelled = m_sheetCancelled || !m_sheet->clickedButton();
        const int code = m_sheet->clickedButton() == yes ? 1 : 0;
        m_sheet->deleteLater();
        m_sheet = nullptr;
        if (cancelled)
            Log::f("first-run question closed without an answer");
        else
            alertDidEnd(code);
    });
    m_sheet->open();
}

bool StartupWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Escape, or closing the question's window, is no "No": the question goes
    // away and nothing is recorded, as Cancel would do.
    if (watched == m_sheet && m_sheet) {
        const bool escape = event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape;
        if (escape || event->type() == QEvent::Close) {
            m_sheetCancelled = true;
            if (escape) {
                m_sheet->done(QDialog::Rejected);
                return true;
            }
        }
    }
    return TrackedWindow::eventFilter(watched, event);
}

void StartupWindow::alertDidEnd(int returnCode)
{
    Log::f("return code:%i, %i", returnCode, 1);
    Settings::setStartAtLogin(returnCode == 1);
    if (m_answered)
        m_answered(returnCode == 1);
}
