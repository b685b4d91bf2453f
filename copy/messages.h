#pragma once

// What a run reports, word for word as the window shows it.
namespace velmora::messages {

inline constexpr const char* kInstallCdDriveUnknown =
    "\u3000インストールＣＤの挿入ドライブ名が不明です。";
// Follows the CD's drive letter, in full width.
inline constexpr const char* kInsertInstallCd = " ドライブにインストールＣＤをセットして下さい。";
inline constexpr const char* kDestinationUnknown = "\u3000コピー先のパスが不明です。";

}  // namespace velmora::messages
