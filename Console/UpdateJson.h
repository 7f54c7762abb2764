#pragma once

// An update as JSON, for scripts.

#include <nlohmann/json.hpp>

#include <string>

class Update;

namespace midiupdate {

// Keys in a fixed order: productName, version, message, headerValues, imageBytes,
// portions, totalSysExSize, macPortNames, windows.
nlohmann::ordered_json UpdateToJson(const Update& update);

// One line. Texts in update files are bytes, not necessarily UTF-8: what is not valid
// UTF-8 becomes U+FFFD rather than failing.
std::string DumpJson(const nlohmann::ordered_json& json);

} // namespace midiupdate
