#pragma once
// A point in wall-clock time with nanosecond precision. Dates round-trip
// exactly through the store, so "size and date unchanged" holds across restarts.
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <sys/stat.h>

using Date = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

inline Date dateNow() { return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now()); }
inline qint64 dateToNanos(const Date &d) { return d.time_since_epoch().count(); }
inline Date dateFromNanos(qint64 ns) { return Date(std::chrono::nanoseconds(ns)); }
inline Date dateFromTimespec(const timespec &ts) { return dateFromNanos(qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec); }
inline Date dateAddSeconds(const Date &d, double s) { return d + std::chrono::nanoseconds(qint64(s * 1e9)); }
inline double secondsBetween(const Date &from, const Date &to) { return double((to - from).count()) / 1e9; }

// "2026-12-06 07:57:24 +0000", with the fraction of a second when there is one.
QString formatDate(const Date &d);
