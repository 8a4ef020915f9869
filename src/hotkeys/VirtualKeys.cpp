#include "hotkeys/VirtualKeys.h"
#include <utility>

namespace {
// {virtual key code, X keycode}: letters, digits, punctuation, editing and function keys.
constexpr std::pair<quint16, quint8> kTable[] = {
    {0, 38},   {1, 39},   {2, 40},   {3, 41},   {4, 43},   {5, 42},   {6, 52},   {7, 53},   {8, 54},   {9, 55},
    {11, 56},  {12, 24},  {13, 25},  {14, 26},  {15, 27},  {16, 29},  {17, 28},  {18, 10},  {19, 11},  {20, 12},
    {21, 13},  {22, 15},  {23, 14},  {24, 21},  {25, 18},  {26, 16},  {27, 20},  {28, 17},  {29, 19},  {30, 35},
    {31, 32},  {32, 30},  {33, 34},  {34, 31},  {35, 33},  {36, 36},  {37, 46},  {38, 44},  {39, 48},  {40, 45},
    {41, 47},  {42, 51},  {43, 59},  {44, 61},  {45, 57},  {46, 58},  {47, 60},  {48, 23},  {49, 65},  {50, 49},
    {51, 22},  {53, 9},   {76, 104}, {96, 71},  {97, 72},  {98, 73},  {99, 69},  {100, 74}, {101, 75}, {103, 95},
    {109, 76}, {111, 96}, {115, 110}, {116, 112}, {117, 119}, {118, 70}, {119, 115}, {120, 68}, {121, 117}, {122, 67},
    {123, 113}, {124, 114}, {125, 116}, {126, 111},
};
}

quint8 xKeycodeForVirtualKey(quint16 virtualKey)
{
    if (virtualKey >= kVirtualKeyForXKeycodeBase && virtualKey < kVirtualKeyForXKeycodeBase + 256)
        return quint8(virtualKey - kVirtualKeyForXKeycodeBase);
    for (const auto &[vk, x] : kTable)
        if (vk == virtualKey)
            return x;
    return 0;
}

quint16 virtualKeyForXKeycode(quint8 xKeycode)
{
    for (const auto &[vk, x] : kTable)
        if (x == xKeycode)
            return vk;
    return quint16(kVirtualKeyForXKeycodeBase + xKeycode);
}
