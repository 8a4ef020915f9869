#pragma once
// One diagnostic line per call, to syslog (ident "Rivulet") and standard error.
// Formats are printf-style: %@, %i, %lu, %qu, %s and
// %.Nf are filled in order by the arguments.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include "base/Date.h"

namespace Log {

// Where lines go besides syslog and stderr; tests install one to read lines.
using Sink = std::function<void(const QString &line)>;
void setSink(Sink sink);
void setEcho(bool toSyslogAndStderr);

// Control characters are written escaped (a newline as \n, ESC as \x1b),
// so a file name cannot start a forged line or colour a terminal.
void line(const QString &text);
QString escapeControls(const QString &text);

// A value as the formats print it.
struct Arg {
    QString text;
    double number = 0;
    bool isNumber = false;
    Arg(const QString &s) : text(s) {}
    Arg(const char *s) : text(QString::fromUtf8(s)) {}
    Arg(const QByteArray &bytes) : text(QString::fromUtf8(bytes)) {}
    Arg(const QStringList &list) : text(QLatin1Char('(') + list.join(QLatin1String(", ")) + QLatin1Char(')')) {}
    Arg(bool b) : text(QString::number(b ? 1 : 0)), number(b), isNumber(true) {}
    Arg(int v) : text(QString::number(v)), number(v), isNumber(true) {}
    Arg(unsigned v) : text(QString::number(v)), number(v), isNumber(true) {}
    Arg(long v) : text(QString::number(v)), number(double(v)), isNumber(true) {}
    Arg(unsigned long v) : text(QString::number(v)), number(double(v)), isNumber(true) {}
    Arg(long long v) : text(QString::number(v)), number(double(v)), isNumber(true) {}
    Arg(unsigned long long v) : text(QString::number(v)), number(double(v)), isNumber(true) {}
    Arg(double v) : text(QString::number(v)), number(v), isNumber(true) {}
    Arg(float v) : Arg(double(v)) {}
    Arg(const Date &d) : text(formatDate(d)) {}
    Arg(const std::optional<Date> &d) : text(d ? formatDate(*d) : QStringLiteral("(null)")) {}
};

QString format(const char *fmt, std::initializer_list<Arg> args);

template <typename... Args>
void f(const char *fmt, const Args &...args)
{
    line(format(fmt, {Arg(args)...}));
}

} // namespace Log
