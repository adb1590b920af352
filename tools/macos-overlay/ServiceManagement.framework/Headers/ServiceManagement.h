// Declarations for tools/check-macos.sh where the SDK it is given has no ServiceManagement
// framework (headers-only SDK copies often leave it out). Only the class the setup application
// uses, as Apple's SMAppService.h (macOS 13 and later) declares it; a full SDK's own header takes
// precedence, since the check adds this folder only when the SDK lacks the framework.
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef NS_ENUM(NSInteger, SMAppServiceStatus) {
  SMAppServiceStatusNotRegistered,
  SMAppServiceStatusEnabled,
  SMAppServiceStatusRequiresApproval,
  SMAppServiceStatusNotFound,
} API_AVAILABLE(macos(13.0));

API_AVAILABLE(macos(13.0))
@interface SMAppService : NSObject
+ (instancetype)loginItemServiceWithIdentifier:(NSString*)identifier;
@property(class, readonly) SMAppService* mainAppService;
+ (instancetype)agentServiceWithPlistName:(NSString*)plistName;
+ (instancetype)daemonServiceWithPlistName:(NSString*)plistName;
- (BOOL)registerAndReturnError:(NSError**)error;
- (BOOL)unregisterAndReturnError:(NSError**)error;
- (void)unregisterWithCompletionHandler:(void (^)(NSError* _Nullable error))handler;
@property(readonly) SMAppServiceStatus status;
+ (SMAppServiceStatus)statusForLegacyURL:(NSURL*)url;
+ (void)openSystemSettingsLoginItems;
@end

NS_ASSUME_NONNULL_END
