// Basic value types shared by every platform layer and the plug-in.
// Plain records with the classic layouts; nothing here allocates.
#pragma once
#include <cstdint>

typedef uint8_t Boolean;
typedef int16_t OSErr;
typedef int32_t OSStatus;
typedef uint32_t OSType;
typedef uint32_t ResType;
typedef char* Ptr;
typedef Ptr* Handle;

enum : OSErr {
    noErr = 0,
    paramErr = -50,
    memFullErr = -108,
    fnfErr = -43,
    ioErr = -36,
    dskFulErr = -34,
    permErr = -54,
    resNotFound = -192,
    mapReadErr = -199,
    resFNotFound = -193,
};

// Builds a four-character code, first character in the most significant byte.
constexpr uint32_t FOUR_CHAR_CODE(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// Pixel rectangle: right and bottom are exclusive.
struct Rect {
    int16_t top, left, bottom, right;
};

struct Point {
    int16_t v, h;
};

// 16-bit colour channels, 0..65535.
struct RGBColor {
    uint16_t red, green, blue;
};

// Length-prefixed strings: byte 0 is the length.
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str32[33];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStr255Param;
