// The edit list read: the lenient XML reader's elements taken as instances,
// labels and rows, within the limits that keep a read quick and small.
#include <charconv>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_set>

#include "exchange/XmlChars.h"
#include "exchange/XmlEditList.h"
#include "exchange/XmlReader.h"
#include "platform/AtomicFile.h"

namespace {

using xmlchars::equalsAscii;
using xmlchars::trimmed;

enum class Role : uint8_t { File, Instances, Instance, Label, Rows, Row, Field, Skip };
enum class Field : uint8_t { None, Id, Start, End, Code, FreeText, Group, Text, RowCode, R, G, B };

struct Open {
    std::string name;
    Role role;
    Field field = Field::None;
    size_t at = 0; // where its start tag is
};

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The names of unknown sections listed; the rest are only counted.
constexpr size_t kUnknownNamesListed = 50;

class EditListReader final : public XmlReader {
public:
    using XmlReader::XmlReader;

    EditList run() {
        if (size() > kMaxEditListBytes)
            return refuse(tooLarge(size()));
        if (!readAll())
            return refuse("読込を取り消しました");
        if (!refused_.empty())
            return refuse(refused_);
        if (unknownMore_ > 0)
            mend("ほかにも知らない項目が " + std::to_string(unknownMore_) +
                 " 種類あり、読み飛ばしました");
        if (!stack_.empty()) {
            mend("ファイルが途中で終わっています。閉じていない要素 <" + stack_.back().name +
                     "> までを読みました",
                 stack_.back().at);
            while (!stack_.empty())
                close();
        }
        list_.mended = mendedLines();
        return std::move(list_);
    }

    static std::string tooLarge(size_t bytes) {
        return "ファイルが大きすぎるため、読み込みませんでした (" +
               std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB、読み込めるのは " +
               std::to_string(kMaxEditListBytes >> 20) + " MB まで)";
    }

private:
    std::vector<Open> stack_;
    EditListInstance instance_;
    std::pair<std::string, std::string> label_;
    bool labelHasText_ = false, labelHasGroup_ = false;
    EditListRow row_;
    std::string r_, g_, b_;
    EditList list_;
    std::unordered_set<std::string> unknownSeen_; // lower case
    size_t unknownMore_ = 0;

    EditList refuse(std::string why) {
        EditList refused;
        refused.refused = std::move(why);
        return refused;
    }

    bool collecting() const override {
        return !stack_.empty() && stack_.back().role == Role::Field;
    }

    void unknown(const std::string& name) {
        if (!unknownSeen_.insert(lowerAscii(name)).second)
            return;
        if (list_.unknownElements.size() < kUnknownNamesListed)
            list_.unknownElements.push_back(name);
        else
            ++unknownMore_;
    }

    // Each limit refuses the file when it is passed (refused_ says why).
    bool tooDeep(size_t at) {
        if (stack_.size() < kMaxEditListDepth)
            return false;
        refused_ = "要素の入れ子が深すぎるため、読み込みませんでした (" +
                   std::to_string(lineAt(at)) + " 行目、" + std::to_string(kMaxEditListDepth) +
                   " 段まで)";
        return true;
    }
    bool tooManyInstances(size_t at) {
        if (list_.instances.size() < kMaxEditListInstances)
            return false;
        refused_ = "インスタンスが多すぎるため、読み込みませんでした (" +
                   std::to_string(lineAt(at)) + " 行目、" + std::to_string(kMaxEditListInstances) +
                   " 件まで)";
        return true;
    }
    bool tooManyLabels() {
        if (instance_.labels.size() < kMaxLabelsPerInstance)
            return false;
        refused_ = "一つのインスタンスのラベルが多すぎるため、読み込みませんでした (" +
                   std::to_string(instance_.line) + " 行目のインスタンス、" +
                   std::to_string(kMaxLabelsPerInstance) + " 個まで)";
        return true;
    }

    static Field instanceField(const std::string& name) {
        const auto is = [&](std::string_view n) { return equalsAscii(name, n); };
        return is("ID")          ? Field::Id
               : is("start")     ? Field::Start
               : is("end")       ? Field::End
               : is("code")      ? Field::Code
               : is("free_text") ? Field::FreeText
                                 : Field::None;
    }
    static Field rowField(const std::string& name) {
        const auto is = [&](std::string_view n) { return equalsAscii(name, n); };
        return is("code") ? Field::RowCode
               : is("R")  ? Field::R
               : is("G")  ? Field::G
               : is("B")  ? Field::B
                          : Field::None;
    }

    // What `open` is inside its parent; false when the file is refused.
    bool place(Open& open, const std::string& name, size_t at) {
        const auto is = [&](std::string_view n) { return equalsAscii(name, n); };
        const bool root = stack_.empty();
        switch (root ? Role::File : stack_.back().role) {
        case Role::File:
            if (is("ALL_INSTANCES")) {
                open.role = Role::Instances;
                list_.isEditList = true;
            } else if (is("ROWS")) {
                open.role = Role::Rows;
            } else if (root) {
                open.role = Role::File;
            } else if (!is("SORT_INFO") && !is("ANGLES")) {
                unknown(name);
            }
            break;
        case Role::Instances:
            if (!is("instance")) {
                unknown(name);
                break;
            }
            if (tooManyInstances(at))
                return false;
            open.role = Role::Instance;
            instance_ = {};
            instance_.line = lineAt(at);
            list_.isEditList = true;
            break;
        case Role::Instance:
            if (!is("label")) {
                open.role = Role::Field;
                open.field = instanceField(name);
                break;
            }
            if (tooManyLabels())
                return false;
            open.role = Role::Label;
            label_ = {};
            labelHasText_ = labelHasGroup_ = false;
            break;
        case Role::Label:
            open.role = Role::Field;
            open.field = is("group") ? Field::Group : is("text") ? Field::Text : Field::None;
            break;
        case Role::Rows:
            if (!is("row")) {
                unknown(name);
                break;
            }
            open.role = Role::Row;
            row_ = {};
            r_.clear(), g_.clear(), b_.clear();
            break;
        case Role::Row:
            open.role = Role::Field;
            open.field = rowField(name);
            break;
        case Role::Field:
            unknown(name);
            break;
        case Role::Skip:
            break;
        }
        return true;
    }

    void startTag(const std::string& name, size_t at) override {
        if (tooDeep(at))
            return;
        Open open{name, Role::Skip, Field::None, at};
        if (!place(open, name, at))
            return;
        if (open.role == Role::Field && open.field == Field::None) {
            unknown(name);
            open.role = Role::Skip;
        }
        if (open.role == Role::Field)
            text_.clear();
        stack_.push_back(std::move(open));
    }

    void endTag(const std::string& name, size_t at) override {
        for (size_t k = stack_.size(); k-- > 0;) {
            if (equalsAscii(stack_[k].name, name)) {
                if (k + 1 < stack_.size())
                    mend("閉じていない要素を閉じました", at);
                while (stack_.size() > k)
                    close();
                return;
            }
        }
        mend("開始のない終了タグを無視しました", at);
    }

    void close() override {
        Open open = std::move(stack_.back());
        stack_.pop_back();
        switch (open.role) {
        case Role::Field:
            switch (open.field) {
            case Field::Id:
                instance_.id = text_;
                break;
            case Field::Start:
                instance_.start = text_;
                break;
            case Field::End:
                instance_.end = text_;
                break;
            case Field::Code:
                instance_.code = text_;
                instance_.hasCode = true;
                break;
            case Field::FreeText:
                instance_.freeText = text_;
                break;
            case Field::Group:
                label_.first = text_;
                labelHasGroup_ = true;
                break;
            case Field::Text:
                label_.second = text_;
                labelHasText_ = true;
                break;
            case Field::RowCode:
                row_.code = text_;
                break;
            case Field::R:
                r_ = text_;
                break;
            case Field::G:
                g_ = text_;
                break;
            case Field::B:
                b_ = text_;
                break;
            case Field::None:
                break;
            }
            text_.clear();
            break;
        case Role::Label:
            if (labelHasText_ || labelHasGroup_)
                instance_.labels.push_back(std::move(label_));
            break;
        case Role::Instance:
            list_.instances.push_back(std::move(instance_));
            instance_ = {};
            break;
        case Role::Row: {
            const auto channel = [](std::string_view t) -> std::optional<uint32_t> {
                t = trimmed(t);
                uint32_t v = 0;
                const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
                if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || v > 65535)
                    return std::nullopt;
                return v;
            };
            const auto r = channel(r_), g = channel(g_), b = channel(b_);
            if (r && g && b)
                row_.color = colorFrom16Bit(*r, *g, *b);
            list_.rows.push_back(std::move(row_));
            row_ = {};
            break;
        }
        default:
            break;
        }
    }
};

} // namespace

EditList readEditList(std::string_view bytes, const ReadProgress& progress) {
    return EditListReader(bytes, progress).run();
}

EditList readEditListFile(const std::string& path, const ReadProgress& progress) {
    EditList list;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxEditListBytes) {
        list.refused = EditListReader::tooLarge(size);
        return list;
    }
    std::string bytes, error;
    if (!readWholeFile(path, bytes, error)) {
        list.refused = "XML ファイルを読めません: " + error;
        return list;
    }
    return readEditList(bytes, progress);
}
