#include "hotkeys/VirtualKeys.h"
#include <utility>

namespace {
// {virtual key code, X keycode}: letters, digits, punctuation, editing,
// function and keypad keys.
constexpr std::pair<quint16, quint8> kTable[] = {
    {0, 38},    {1, 39},    {2, 40},    {3, 41},    {4, 43},    {5, 42},    {6, 52},    {7, 53},    {8, 54},    {9, 55},
    {10, 94},   {11, 56},   {12, 24},   {13, 25},   {14, 26},   {15, 27},   {16, 29},   {17, 28},   {18, 10},   {19, 11},
    {20, 12},   {21, 13},   {22, 15},   {23, 14},   {24, 21},   {25, 18},   {26, 16},   {27, 20},   {28, 17},   {29, 19},
    {30, 35},   {31, 32},   {32, 30},   {33, 34},   {34, 31},   {35, 33},   {36, 36},   {37, 46},   {38, 44},   {39, 48},
    {40, 45},   {41, 47},   {42, 51},   {43, 59},   {44, 61},   {45, 57},   {46, 58},   {47, 60},   {48, 23},   {49, 65},
    {50, 49},   {51, 22},   {53, 9},    {76, 104},  {96, 71},   {97, 72},   {98, 73},   {99, 69},   {100, 74},  {101, 75},
    {103, 95},  {109, 76},  {111, 96},  {114, 118}, {115, 110}, {116, 112}, {117, 119}, {118, 70},  {119, 115}, {120, 68},
    {121, 117}, {122, 67},  {123, 113}, {124, 114}, {125, 116}, {126, 111},
    // F13 to F20
    {105, 191}, {107, 192}, {113, 193}, {106, 194}, {64, 195},  {79, 196},  {80, 197},  {90, 198},
    // The keypad: decimal, *, +, /, -, =, then 0 to 9.
    {65, 91},   {67, 63},   {69, 86},   {75, 106},  {78, 82},   {81, 125},  {82, 90},   {83, 87},   {84, 88},   {85, 89},
    {86, 83},   {87, 84},   {88, 85},   {89, 79},   {91, 80},   {92, 81},
};

// F1 to F20 by virtual key code; F21 to F24 have none and are 0x100 + X keycode 199-202.
constexpr quint16 kFunctionKeys[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 105, 107, 113, 106, 64, 79, 80, 90};
constexpr quint8 kFirstXF21 = 199, kLastXF24 = 202;
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

bool isFunctionKey(quint16 virtualKey)
{
    for (quint16 vk : kFunctionKeys)
        if (vk == virtualKey)
            return true;
    return virtualKey >= kVirtualKeyForXKeycodeBase + kFirstXF21 && virtualKey <= kVirtualKeyForXKeycodeBase + kLastXF24;
}
