#pragma once
#include <QByteArray>

// Byte-wise order with runs of digits compared by their value, so that
// "2 x" comes before "10 x"; equal values fall back to the plain bytes.
bool naturalLess(const QByteArray &a, const QByteArray &b);
