#pragma once
// A JSON document written piece by piece, laid out exactly as
// nlohmann::json::dump(2) lays out the same document, so that a long list
// goes out one row at a time instead of being built whole in memory first.
// dump() orders an object's keys by name: callers give keys in that order.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace brisko::cli {

class JsonStream {
  public:
    using ErrorHandler = nlohmann::json::error_handler_t;
    // indent -1: dump(-1), everything on one line.
    explicit JsonStream(std::ostream& out, int indent = 2,
                        ErrorHandler errors = ErrorHandler::strict)
        : out_(out), indent_(indent), errors_(errors) {}

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }
    // The name of the next member of the open object.
    void key(std::string_view name);
    // A whole value (a scalar, or a small object such as one row) at this place.
    void value(const nlohmann::json& v);
    // Ends the document with a line break, as the commands print it.
    void finish() { out_ << '\n'; }

  private:
    void open(char bracket);
    void close(char bracket);
    void beforeValue();
    void newLine() const;

    std::ostream& out_;
    int indent_;
    ErrorHandler errors_;
    std::vector<size_t> counts_;  // members written in each open object or array
    bool afterKey_ = false;
};

}  // namespace brisko::cli
