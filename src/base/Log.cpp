#include "base/Log.h"

#include <algorithm>
#include <mutex>
#include <syslog.h>
#include <cstdio>

namespace Log {

namespace {
std::mutex g_mutex;
Sink g_sink;
bool g_echo = true;
bool g_syslogOpen = false;
}

void setSink(Sink sink)
{
    std::lock_guard lock(g_mutex);
    g_sink = std::move(sink);
}

void setEcho(bool on)
{
    std::lock_guard lock(g_mutex);
    g_echo = on;
}

QString escapeControls(const QString &text)
{
    const auto isControl = [](char16_t c) { return c < 0x20 || (c >= 0x7f && c <= 0x9f); };
    if (std::none_of(text.cbegin(), text.cend(), [&](QChar c) { return isControl(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!isControl(u))
            out += c;
        else if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u == '\t')
            out += QLatin1String("\\t");
        else
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
    }
    return out;
}

void line(const QString &raw)
{
    // Names and tool output come from outside: one call is one line, and no
    // byte of it reaches a terminal as a control sequence.
    const QString text = escapeControls(raw);
    std::lock_guard lock(g_mutex);
    if (g_echo) {
        const QByteArray bytes = text.toUtf8();
        if (!g_syslogOpen) {
            openlog("Rivulet", LOG_PID, LOG_USER);
            g_syslogOpen = true;
        }
        syslog(LOG_NOTICE, "%s", bytes.constData());
        fprintf(stderr, "%s\n", bytes.constData());
        fflush(stderr);
    }
    if (g_sink)
        g_sink(text);
}

QString format(const char *fmt, std::initializer_list<Arg> args)
{
    QString out;
    auto next = args.begin();
    for (const char *p = fmt; *p; ++p) {
        if (*p != '%') {
            // Formats are ASCII; collect runs for speed.
            const char *start = p;
            while (p[1] && p[1] != '%')
                ++p;
            out += QLatin1String(start, int(p - start + 1));
            continue;
        }
        if (p[1] == '%') {
            out += QLatin1Char('%');
            ++p;
            continue;
        }
        // Parse %[.N][l|q|ll]conv
        const char *q = p + 1;
        int precision = -1;
        if (*q == '.') {
            precision = 0;
            ++q;
            while (*q >= '0' && *q <= '9')
                precision = precision * 10 + (*q++ - '0');
        }
        while (*q == 'l' || *q == 'q')
            ++q;
        const char conv = *q;
        if (!conv)
            break;
        const QString value = next != args.end() ? (conv == 'f' && next->isNumber
                                                         ? QString::number(next->number, 'f', precision < 0 ? 6 : precision)
                                                         : next->text)
                                                 : QString();
        if (next != args.end())
            ++next;
        out += value;
        p = q;
    }
    return out;
}

} // namespace Log
