// The streamed document against the same document dumped whole.
#include "app/cli/json_stream.h"

#include <gtest/gtest.h>

#include <sstream>

using brisko::cli::JsonStream;
using nlohmann::json;

TEST(JsonStream, LaysOutADocumentAsDumpDoes) {
    std::ostringstream out;
    JsonStream s(out);
    s.beginObject();
    s.key("cancelled");
    s.value(true);
    s.key("empty");
    s.beginArray();
    s.endArray();
    s.key("failures");
    s.beginArray();
    s.value({{"message", "line\nbreak \"quoted\" \xc3\xa9"}, {"section", 3}});
    s.beginObject();
    s.key("inner");
    s.beginArray();
    s.value(json::array({1, 2}));
    s.value(json::object());
    s.endArray();
    s.endObject();
    s.endArray();
    s.key("total");
    s.value(size_t(2));
    s.endObject();
    s.finish();

    json whole = {{"cancelled", true},
                  {"empty", json::array()},
                  {"failures",
                   {{{"message", "line\nbreak \"quoted\" \xc3\xa9"}, {"section", 3}},
                    {{"inner", {json::array({1, 2}), json::object()}}}}},
                  {"total", size_t(2)}};
    EXPECT_EQ(out.str(), whole.dump(2) + "\n");
}

TEST(JsonStream, EmptyDocuments) {
    for (bool array : {false, true}) {
        std::ostringstream out;
        JsonStream s(out);
        array ? s.beginArray() : s.beginObject();
        array ? s.endArray() : s.endObject();
        s.finish();
        EXPECT_EQ(out.str(), (array ? json::array() : json::object()).dump(2) + "\n");
    }
}

TEST(JsonStream, OnOneLineWithBadBytesReplaced) {
    std::ostringstream out;
    JsonStream s(out, -1, json::error_handler_t::replace);
    s.beginObject();
    s.key("entries");
    s.beginArray();
    s.value({{"url", "http://a/\xff"}, {"when", nullptr}});
    s.value({{"url", "b"}, {"when", "2011"}});
    s.endArray();
    s.key("total");
    s.value(2);
    s.endObject();
    s.finish();
    json whole = {
        {"entries",
         {{{"url", "http://a/\xff"}, {"when", nullptr}}, {{"url", "b"}, {"when", "2011"}}}},
        {"total", 2}};
    EXPECT_EQ(out.str(), whole.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
}

// Rows written ahead by a nested stream, then given to the document after
// the members that precede them: the same bytes as the document dumped whole.
TEST(JsonStream, RowsRenderedAheadFitInTheirPlace) {
    for (int indent : {2, -1})
        for (size_t rows : {0, 1, 5}) {
            std::ostringstream ahead;
            JsonStream nested = JsonStream::nested(ahead, 2, indent);
            std::vector<std::string> pieces;
            json list = json::array();
            for (size_t i = 0; i < rows; ++i) {
                json row = {{"keyPath", "K\\" + std::to_string(i)}, {"kind", i}};
                list.push_back(row);
                nested.value(row);
                pieces.push_back(ahead.str());  // in pieces, as a row buffer gives them
                ahead.str({});
            }
            std::ostringstream out;
            JsonStream s(out, indent);
            s.beginObject();
            s.key("failures");
            s.beginArray();
            s.value({{"section", 4}});
            s.endArray();
            s.key("problems");
            s.beginArray();
            s.value({{"first", true}});  // one value written directly before them
            s.rendered(pieces, rows);
            s.endArray();
            s.endObject();
            s.finish();
            list.insert(list.begin(), json{{"first", true}});
            json whole = {{"failures", json::array({{{"section", 4}}})}, {"problems", list}};
            EXPECT_EQ(out.str(), whole.dump(indent) + "\n") << indent << " " << rows;
        }
}
