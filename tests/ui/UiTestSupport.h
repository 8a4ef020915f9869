#pragma once
// Shared by the widget tests: an alert catcher, a dark palette, a main on X.
#include <QApplication>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QTimer>

using namespace Qt::StringLiterals;

// Dismisses the alerts shown while it lives, remembering "text|informative text".
struct AlertCatcher {
    QStringList seen;
    QTimer timer;
    AlertCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen << box->text() + QLatin1Char('|') + box->informativeText();
                box->buttons().first()->click();
            }
        });
        timer.start(20);
    }
};

inline QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x35, 0x35, 0x35), text(0xee, 0xee, 0xee), dim(0x80, 0x80, 0x80);
    for (auto role : {QPalette::Window, QPalette::AlternateBase, QPalette::Button})
        p.setColor(role, window);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(role, text), p.setColor(QPalette::Disabled, role, dim);
    p.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::PlaceholderText, dim);
    return p;
}

// A test program on the rig's X server when there is one (real key grabs and
// window placement), with App as its application class.
#define RIVULET_X_TEST_MAIN(Test, App) \
    int main(int argc, char **argv) \
    { \
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) \
            qputenv("QT_QPA_PLATFORM", "xcb"); \
        App app(argc, argv); \
        Test test; \
        return QTest::qExec(&test, argc, argv); \
    }
