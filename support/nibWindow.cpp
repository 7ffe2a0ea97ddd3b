#include "support/nibWindow.h"

#include <cstdlib>
#include <string>

#include "support/commonprocs.h"

WindowRef OpenNibWindowFromCFBundle(const char* bundleID, const char* nibName, const char* windowName) {
    CFStringRef theID = CFStringCreateWithCString(nullptr, bundleID, kCFStringEncodingUTF8);
    Assert(theID, (std::string("Cannot allocate CFSTR for ") + bundleID).c_str());
    CFBundleRef theBundle = CFBundleGetBundleWithIdentifier(theID);
    Assert(theBundle, (std::string("Cannot allocate bundle for ID = ") + bundleID).c_str());
    CFRetain(theBundle);

    const char* nib = (nibName && *nibName) ? nibName : "vexolumen";
    CFStringRef theNibName = CFStringCreateWithCString(nullptr, nib, kCFStringEncodingUTF8);
    IBNibRef theNib = nullptr;
    const OSStatus e = CreateNibReferenceWithCFBundle(theBundle, theNibName, &theNib);
    CFRelease(theNibName);
    if (e != noErr) {
        Str255 num;
        Num2Text(e, num);
        const std::string msg = std::string("Unable to CreateNibReferenceWithCFBundle for \"") + bundleID + "/" + nib +
                                "\" as it returned errcode #" + PToCString(num) + ".";
        Terminate("OpenNibWindow Failed", msg.c_str());
    }

    CFStringRef theWindowName = CFStringCreateWithCString(nullptr, windowName, kCFStringEncodingUTF8);
    WindowRef theWindow = nullptr;
    const OSStatus err = CreateWindowFromNib(theNib, theWindowName, &theWindow);
    CFRelease(theWindowName);
    if (err != noErr) std::exit(err & 0xFF);

    DisposeNibReference(theNib);
    CFRelease(theBundle);
    CFRelease(theID);
    return theWindow;
}
