#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a run reports, word for word as the window shows it.
namespace velmora::messages {

inline constexpr const char* kInstallCdDriveUnknown =
    "\u3000インストールＣＤの挿入ドライブ名が不明です。";
// Follows the CD's drive letter, in full width.
inline constexpr const char* kInsertInstallCd = " ドライブにインストールＣＤをセットして下さい。";
inline constexpr const char* kDestinationUnknown = "\u3000コピー先のパスが不明です。";
inline constexpr const char* kAlreadyCopied = "\u3000既にインストールＣＤからコピー済みです。";
inline constexpr const char* kDestinationUnreachable =
    "\u3000コピー先のフォルダにアクセスできません。";
// A run stopped before its end because the session or the program was ending.
inline constexpr const char* kStopped = "\u3000コピーを中断しました。";

// The record of a copy under way could not be written into the destination folder, so nothing
// was copied: "　コピー先のフォルダに書き込めません。（C:\Tarnwell\Velmora　<reason>）".
std::string DestinationNotWritableText(const std::string& folder, const std::string& reason);

// One thing that failed, and the system's reason.
struct FailureNote {
  std::string path;
  std::string reason;
  bool operator==(const FailureNote&) const = default;
};

// What went wrong in a run that copied, counted.
struct CopyFailures {
  uint64_t filesNotCopied = 0;
  uint64_t foldersNotMade = 0;
  uint64_t foldersNotRead = 0;    // CD folders whose listing failed
  bool notWrittenToDisk = false;  // the copies could not be put on stable storage
  // Every failure in the order met; the first is named in the report, so the user can act on it.
  std::vector<FailureNote> notes;
  bool any() const {
    return filesNotCopied + foldersNotMade + foldersNotRead != 0 || notWrittenToDisk;
  }
};

// For example
// "　ファイル３個をコピーできませんでした。（最初：C:\\Tarnwell\\Velmora\\Help\\video\\v1.avi
// ディスクに十分な空き領域がありません。）もう一度「実 行」を押して下さい。"
std::string CopyFailureText(const CopyFailures& failures);

// A number in full-width digits: 12 -> "１２".
std::string FullWidthNumber(uint64_t number);

}  // namespace velmora::messages
