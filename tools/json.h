/*
 * Reading the JSON objects 'wks dump --json' writes, one per line: flat
 * objects whose values are strings, numbers, true, false or null.
 */
#ifndef WKS_TOOL_JSON_H
#define WKS_TOOL_JSON_H

#include <map>
#include <string>

namespace tool {

struct JsonValue {
    enum Type { kString, kNumber, kTrue, kFalse, kNull } type = kNull;
    std::string text;  // a string's characters (UTF-8), a number as written
};

using JsonObject = std::map<std::string, JsonValue>;

// Parses one object; false with the reason in why (nested objects and
// arrays are refused: the dump writes none).
bool parse_json_object(const std::string &line, JsonObject &out, std::string &why);

}  // namespace tool

#endif
