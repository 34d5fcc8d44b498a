#include "platform/FileFailure.h"

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace {

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

// The deepest of `p` and the folders above it that exists.
fs::path deepestPresent(fs::path p) {
    while (!present(p) && p.has_relative_path() && p != p.parent_path())
        p = p.parent_path();
    return p;
}

// The first folder on the way to the file `p` that is missing.
fs::path firstMissing(const fs::path& p) {
    fs::path folder = p.parent_path();
    while (!present(folder.parent_path()) && folder.has_relative_path())
        folder = folder.parent_path();
    return folder;
}

std::string quoted(const fs::path& p) {
    return "「" + p.string() + "」";
}

} // namespace

std::string fileFailureReason(int err, const fs::path& madeAsGiven) {
    std::error_code ec;
    const fs::path whole = fs::absolute(madeAsGiven, ec);
    const fs::path made = (ec ? madeAsGiven : whole).lexically_normal();
    std::string text;
    switch (err) {
    case EACCES:
    case EPERM:
        text = quoted(deepestPresent(made.parent_path())) + "に書き込む権限がありません";
        break;
    case EROFS:
        text = quoted(deepestPresent(made.parent_path())) + "は読み取り専用の場所です";
        break;
    case ENOENT:
        text = "フォルダー" + quoted(firstMissing(made)) + "がありません";
        break;
    case ENOTDIR:
    case EEXIST:
        text = quoted(deepestPresent(made)) + "はフォルダーではなく、ファイルです";
        break;
    case ENOSPC:
        text = "ディスクの空き容量が足りません";
        break;
    case EDQUOT:
        text = "ディスクの使用量の上限を超えました";
        break;
    case EFBIG:
        text = "ファイルの大きさの上限を超えました";
        break;
    case ENAMETOOLONG:
        text = "名前が長すぎます";
        break;
    case EIO:
        text = "入出力エラーが発生しました";
        break;
    default:
        text = "エラーが発生しました";
        break;
    }
    return text + "（" + std::strerror(err) + "）";
}

bool isFileSystemError(int err) {
    for (const int e : {ENOSPC, EDQUOT, EFBIG, EIO, EROFS, EACCES, EPERM})
        if (err == e)
            return true;
    return false;
}
