// Declarations for tools/check-macos.sh where the SDK it is given has no ScreenCaptureKit
// framework (headers-only SDK copies often leave it out). Only the classes and members
// vantic-shot uses, as Apple's SCShareableContent.h, SCStream.h and SCScreenshotManager.h
// (macOS 14 and 15 SDKs) declare them; a full SDK's own headers take precedence, since the check
// adds this folder only when the SDK lacks the framework.
#import <CoreGraphics/CGDirectDisplay.h>
#import <CoreGraphics/CGImage.h>
#import <CoreGraphics/CGWindow.h>
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// SCShareableContent.h
API_AVAILABLE(macos(12.3))
@interface SCRunningApplication : NSObject
@property(readonly) NSString* bundleIdentifier;
@property(readonly) NSString* applicationName;
@property(readonly) pid_t processID;
- (instancetype)init NS_UNAVAILABLE;
+ (instancetype)new NS_UNAVAILABLE;
@end

API_AVAILABLE(macos(12.3))
@interface SCWindow : NSObject
@property(readonly) CGWindowID windowID;
@property(readonly) CGRect frame;
@property(readonly, nullable) NSString* title;
@property(readonly) NSInteger windowLayer;
@property(readonly, nullable) SCRunningApplication* owningApplication;
@property(readonly, getter=isOnScreen) BOOL onScreen;
- (instancetype)init NS_UNAVAILABLE;
+ (instancetype)new NS_UNAVAILABLE;
@end

API_AVAILABLE(macos(12.3))
@interface SCDisplay : NSObject
@property(readonly) CGDirectDisplayID displayID;
@property(readonly) NSInteger width;
@property(readonly) NSInteger height;
@property(readonly) CGRect frame;
- (instancetype)init NS_UNAVAILABLE;
+ (instancetype)new NS_UNAVAILABLE;
@end

API_AVAILABLE(macos(12.3))
@interface SCShareableContent : NSObject
+ (void)getShareableContentWithCompletionHandler:
    (void (^)(SCShareableContent* _Nullable shareableContent,
              NSError* _Nullable error))completionHandler;
+ (void)getShareableContentExcludingDesktopWindows:(BOOL)excludeDesktopWindows
                               onScreenWindowsOnly:(BOOL)onScreenWindowsOnly
                                 completionHandler:
                                     (void (^)(SCShareableContent* _Nullable shareableContent,
                                               NSError* _Nullable error))completionHandler;
@property(readonly) NSArray<SCWindow*>* windows;
@property(readonly) NSArray<SCDisplay*>* displays;
@property(readonly) NSArray<SCRunningApplication*>* applications;
- (instancetype)init NS_UNAVAILABLE;
+ (instancetype)new NS_UNAVAILABLE;
@end

// SCStream.h
API_AVAILABLE(macos(12.3))
@interface SCContentFilter : NSObject
@property(nonatomic, readonly) float pointPixelScale API_AVAILABLE(macos(14.0));
@property(nonatomic, readonly) CGRect contentRect API_AVAILABLE(macos(14.0));
- (instancetype)initWithDesktopIndependentWindow:(SCWindow*)window;
- (instancetype)initWithDisplay:(SCDisplay*)display excludingWindows:(NSArray<SCWindow*>*)excluded;
@end

API_AVAILABLE(macos(12.3))
@interface SCStreamConfiguration : NSObject
@property(nonatomic, assign) size_t width;
@property(nonatomic, assign) size_t height;
@property(nonatomic, assign) OSType pixelFormat;
@property(nonatomic, assign) BOOL scalesToFit;
@property(nonatomic, assign) BOOL showsCursor;
@property(nonatomic, assign) CGRect sourceRect;
@property(nonatomic, assign) CGRect destinationRect;
@end

// SCScreenshotManager.h
API_AVAILABLE(macos(14.0))
@interface SCScreenshotManager : NSObject
- (instancetype)init API_UNAVAILABLE(macos);
+ (void)captureImageWithFilter:(SCContentFilter*)contentFilter
                 configuration:(SCStreamConfiguration*)config
             completionHandler:(nullable void (^)(CGImageRef _Nullable sampleBuffer,
                                                  NSError* _Nullable error))completionHandler
    API_AVAILABLE(macos(14.0));
@end

NS_ASSUME_NONNULL_END
