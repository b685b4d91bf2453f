#include "copy/messages.h"

namespace velmora::messages {

std::string FullWidthNumber(uint64_t number) {
  static constexpr const char* kDigits[] = {"０", "１", "２", "３", "４",
                                            "５", "６", "７", "８", "９"};
  const std::string ascii = std::to_string(number);
  std::string wide;
  for (char digit : ascii) wide += kDigits[digit - '0'];
  return wide;
}

std::string CopyFailureText(const CopyFailures& failures) {
  std::string text = "\u3000";
  if (failures.filesNotCopied != 0) {
    text += "ファイル" + FullWidthNumber(failures.filesNotCopied) + "個をコピーできませんでした。";
  }
  if (failures.foldersNotMade != 0) {
    text += "フォルダ" + FullWidthNumber(failures.foldersNotMade) + "個を作成できませんでした。";
  }
  if (failures.foldersNotRead != 0) {
    text +=
        "ＣＤのフォルダ" + FullWidthNumber(failures.foldersNotRead) + "個を読み取れませんでした。";
  }
  if (failures.notWrittenToDisk) text += "コピーしたファイルをディスクに書き込めませんでした。";
  if (!failures.notes.empty()) {
    const FailureNote& first = failures.notes.front();
    text += "（最初：" + first.path + "\u3000" + first.reason + "）";
  }
  text += "もう一度「実 行」を押して下さい。";
  return text;
}

}  // namespace velmora::messages

namespace velmora::messages {

std::string DestinationNotWritableText(const std::string& folder, const std::string& reason) {
  return "\u3000コピー先のフォルダに書き込めません。（" + folder + "\u3000" + reason + "）";
}

}  // namespace velmora::messages
