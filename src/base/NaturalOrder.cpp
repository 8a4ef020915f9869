#include "base/NaturalOrder.h"

#include <cstring>

bool naturalLess(const QByteArray &a, const QByteArray &b)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            while (i < a.size() - 1 && a[i] == '0' && digit(a[i + 1]))
                ++i;
            while (j < b.size() - 1 && b[j] == '0' && digit(b[j + 1]))
                ++j;
            qsizetype ei = i, ej = j;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            if (ei - i != ej - j)
                return ei - i < ej - j;
            const int c = memcmp(a.constData() + i, b.constData() + j, size_t(ei - i));
            if (c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return uchar(a[i]) < uchar(b[j]);
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    return a < b;
}
