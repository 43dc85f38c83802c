// Declarations of the macOS calls that the installer's Objective-C++ files
// make and that GNUstep's Foundation and AppKit headers lack, written as
// Apple's API reference gives them. Force-included (-include) only by the
// syntax check in this folder, never by the product: on a Mac the SDK
// declares all of these itself.
//
// Only what is missing belongs here. Everything else the files call
// (NSAlert, NSModalResponse, NSApplicationActivationPolicyRegular,
// activateIgnoringOtherApps:, NSBundle, NSURL, ...) is checked against
// GNUstep's own declarations.
//
// The check defines CORVEL_OBJC_CHECK_FOUNDATION for a file that imports
// Foundation (or AppKit, which brings it) and CORVEL_OBJC_CHECK_APPKIT for one
// that imports AppKit, so that this header never hands a file a framework it
// does not import itself.
#pragma once

#ifdef CORVEL_OBJC_CHECK_FOUNDATION
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// Foundation, NSProcessInfo.h (macOS 10.10).
typedef struct {
  NSInteger majorVersion;
  NSInteger minorVersion;
  NSInteger patchVersion;
} NSOperatingSystemVersion;

@interface NSProcessInfo (CorvelMacOSDeclarations)
@property(readonly) NSOperatingSystemVersion operatingSystemVersion;
@end

// Foundation, NSAppleScript.h (GNUstep declares the class with no members).
FOUNDATION_EXPORT NSString* const NSAppleScriptErrorNumber;

@interface NSAppleScript (CorvelMacOSDeclarations)
- (nullable instancetype)initWithSource:(NSString*)source;
- (NSAppleEventDescriptor*)executeAndReturnError:(NSDictionary<NSString*, id>* _Nullable* _Nullable)errorInfo;
@end

// Foundation, NSAppleEventDescriptor.h (GNUstep declares the class with no
// members).
@interface NSAppleEventDescriptor (CorvelMacOSDeclarations)
@property(nullable, readonly, copy) NSString* stringValue;
@end

// Foundation, NSURL.h (macOS 10.9).
@interface NSURL (CorvelMacOSDeclarations)
- (BOOL)getFileSystemRepresentation:(char*)buffer maxLength:(NSUInteger)maxBufferLength;
@end

NS_ASSUME_NONNULL_END
#endif

#ifdef CORVEL_OBJC_CHECK_APPKIT
#import <AppKit/AppKit.h>

NS_ASSUME_NONNULL_BEGIN

// AppKit, NSApplication.h (macOS 10.6).
@interface NSApplication (CorvelMacOSDeclarations)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
@end

NS_ASSUME_NONNULL_END
#endif
