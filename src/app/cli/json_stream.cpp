#include "app/cli/json_stream.h"

namespace brisko::cli {

void JsonStream::newLine() const {
    if (indent_ >= 0) out_ << '\n' << std::string(counts_.size() * size_t(indent_), ' ');
}

void JsonStream::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (counts_.empty()) return;
    if (counts_.back()++ > 0) out_ << ',';
    newLine();
}

void JsonStream::key(std::string_view name) {
    beforeValue();
    out_ << nlohmann::json(name).dump(-1, ' ', false, errors_) << (indent_ >= 0 ? ": " : ":");
    afterKey_ = true;
}

void JsonStream::value(const nlohmann::json& v) {
    beforeValue();
    std::string text = v.dump(indent_, ' ', false, errors_);
    if (indent_ < 0) {
        out_ << text;
        return;
    }
    // dump() indents from column 0; the value sits this deep in the document.
    const std::string indent(counts_.size() * size_t(indent_), ' ');
    size_t from = 0;
    for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', from)) {
        out_.write(text.data() + from, std::streamsize(nl + 1 - from));
        out_ << indent;
        from = nl + 1;
    }
    out_.write(text.data() + from, std::streamsize(text.size() - from));
}

void JsonStream::rendered(const std::vector<std::string>& pieces, size_t count) {
    if (count == 0 || counts_.empty()) return;
    // The nested stream began with a first value, which takes no comma.
    if (counts_.back() > 0) out_ << ',';
    counts_.back() += count;
    afterKey_ = false;
    for (const auto& p : pieces) out_.write(p.data(), std::streamsize(p.size()));
}

void JsonStream::open(char bracket) {
    beforeValue();
    out_ << bracket;
    counts_.push_back(0);
}

void JsonStream::close(char bracket) {
    const bool empty = counts_.back() == 0;
    counts_.pop_back();
    if (!empty) newLine();
    out_ << bracket;
}

}  // namespace brisko::cli
