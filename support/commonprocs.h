// Shared small procedures: failure reporting, off-screen buffers, rectangle
// fitting, and conversions between numbers, colours and text.
#pragma once
#include <cstdint>
#include <string>

#include "effect/pixelAccess.h"
#include "platform/qd/QuickDraw.h"
#include "platform/resources/Resources.h"

// --- Assertions and alerts ----------------------------------------------------
// Assert and Terminate print "title: text" on standard error, show it through
// the installed alert presenter (the dialog installs one), and end the process
// with exit status 1. They never return. Notify prints and returns.
// Strings are length-prefixed, as everywhere in the system; the const char*
// overloads are for literals.
void Assert(const void* p, ConstStr255Param msg);
void Assert(const void* p, const char* msg);
[[noreturn]] void Terminate(ConstStr255Param title, ConstStr255Param msg);
[[noreturn]] void Terminate(const char* title, const char* msg);
int16_t StandardWarning(ConstStr255Param title, ConstStr255Param msg, ConstStr255Param okText,
                        ConstStr255Param cancelText);
void Notify(ConstStr255Param msg);
void Notify(const char* msg);

// How an alert reaches the user. kind 0 is a stop alert, 2 a caution alert;
// returns the button hit (1 default, 2 cancel). The default presenter (none
// installed) shows nothing and answers 1.
typedef int16_t (*AlertPresenterProc)(int16_t kind, const char* title, const char* text,
                                      const char* okText, const char* cancelText);
void SetAlertPresenter(AlertPresenterProc proc);

// Ends the process; tests replace it to observe Terminate without dying.
typedef void (*ExitToShellProc)();
void SetExitToShellProc(ExitToShellProc proc);

// --- Short strings --------------------------------------------------------------
void CToPStr(const char* src, Str255 dst);  // truncated to 255 bytes
void PStrCat(Str255 dst, ConstStr255Param src);
void PStrCopy(Str255 dst, ConstStr255Param src);
std::string PToCString(ConstStr255Param src);

// --- Off-screen buffers ---------------------------------------------------------
Rect GetPortRect(CGrafPtr port);
void LockGWorld(GWorldPtr gw);
// A locked 32-bit buffer with theRect's size at the origin; nil on failure.
// The caller disposes of it (DisposeGWorld).
GWorldPtr AllocateRectGWorld(const Rect& theRect);
// Copies all of theSource onto all of theTarget, scaled when sizes differ.
// Leaves the current port's colours black on white.
void Source2Target(GWorldPtr theSource, GWorldPtr theTarget);

// --- Geometry (right and bottom exclusive) ----------------------------------------
void GetDims(const Rect& theRect, int32_t& wid, int32_t& hig);
Rect KeepPropsWithFixedHorizontal(const Rect& inOriginal, const Rect& inNewSize);
Rect KeepPropsWithFixedVertical(const Rect& inOriginal, const Rect& inNewSize);
Rect CalcProportionalRectForFrame(const Rect& inRect, const Rect& inFrame);
void CenterRectInRect(Rect& theRect, const Rect& inRect);

// --- Conversions ----------------------------------------------------------------------
void Num2Text(int32_t theNum, Str255 outText);
CFStringRef MakeCFString(ConstStr255Param theString);  // the caller releases it
RGBColor SetRGBColor(int16_t r, int16_t g, int16_t b);
int32_t PixRec2LongInt(PixRec p);
PixRec LongInt2PixRec(int32_t n);
int32_t RGBColor2LongInt(const RGBColor& c);
RGBColor LongInt2RGBColor(int32_t n);
