// The one JSON writer of the station and the command-line tool: texts as
// JSON strings whatever their bytes, and flat objects built a field at a
// time. Written by hand: a few flat objects whose only hard part is
// escaping texts from outside.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// text as a JSON string, quotes included. Control characters (C0, DEL, C1)
// and the line and paragraph separators are escaped; a byte that is not
// part of well-formed UTF-8 becomes the text "\xNN".
std::string Json_String(std::string_view text);

// texts as a JSON array of strings.
std::string Json_String_Array(const std::vector<std::string>& texts);

// A JSON object built one field at a time:
//   Json_Object().Number("v", 1).Text("event", "summary").Done()
class Json_Object {
  public:
    Json_Object& Text(const char* name, std::string_view value);
    Json_Object& Number(const char* name, long long value);
    Json_Object& Unsigned(const char* name, std::uint64_t value);
    // Seconds with three decimals, never below zero.
    Json_Object& Seconds(const char* name, double value);
    Json_Object& Boolean(const char* name, bool value);
    // A value that is JSON already (an array, an object).
    Json_Object& Raw(const char* name, const std::string& json);
    std::string Done() const { return m_text + "}"; }

  private:
    void Name(const char* name);
    std::string m_text = "{";
};
