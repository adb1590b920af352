#include "setup/model/platform_texts.h"

namespace setup {
namespace {

constexpr PlatformTexts kMac = {
    "Mac操作を許可",
    "システム設定で、このアプリのアクセシビリティをオンにします。",
    "システム設定を開く",
    "システム設定で「Mevrik」をオンにして、アプリへ戻ってください。",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
};

constexpr PlatformTexts kLinux = {
    "デスクトップ操作を許可",
    "このデスクトップのアクセシビリティをオンにします。",
    "アクセシビリティをオンにする",
    "デスクトップのアクセシビリティをオンにしました。",
    "次のアプリは再起動すると操作できます：%1",
    "再起動が必要なアプリはありません。",
    "起動中のアプリは、再起動すると操作できます。",
    "アクセシビリティをオンにできませんでした。デスクトップの設定から"
    "オンにして、「状態を再確認」を押してください。",
    "アクセシビリティをオンにしますか？",
    "Mevrikがほかのアプリを読み取って操作するには、このデスクトップの"
    "アクセシビリティをオンにする必要があります。",
    "デスクトップ全体の設定です。あとから手順1のボタンでもオンにできます。",
    "オンにする",
    "今はしない",
    "GNOME Shellの拡張機能を入れました。一度ログアウトしてから、もう一度ログインしてください。",
};

}  // namespace

const PlatformTexts& macTexts() {
  return kMac;
}

const PlatformTexts& linuxTexts() {
  return kLinux;
}

const PlatformTexts& platformTexts() {
#ifdef __APPLE__
  return kMac;
#else
  return kLinux;
#endif
}

}  // namespace setup
