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
    // A stream for values that will stand `depth` levels deep (inside that
    // many open objects or arrays) in another stream's document: what it
    // writes is handed to that stream with rendered(), so a list can be
    // written out before the members that come ahead of it are known.
    static JsonStream nested(std::ostream& out, size_t depth, int indent = 2,
                             ErrorHandler errors = ErrorHandler::strict) {
        JsonStream s(out, indent, errors);
        s.counts_.assign(depth, 0);
        return s;
    }

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }
    // The name of the next member of the open object.
    void key(std::string_view name);
    // A whole value (a scalar, or a small object such as one row) at this place.
    void value(const nlohmann::json& v);
    // What a nested() stream of this depth wrote, in pieces one after the
    // other: `count` values of the open object or array, laid out as if
    // value() had written them here.
    void rendered(const std::vector<std::string>& pieces, size_t count);
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
