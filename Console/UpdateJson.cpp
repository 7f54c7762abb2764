#include "Console/UpdateJson.h"

#include "Console/SysExContent.h"

#include "MidiUpdateLib/Update.h"

namespace midiupdate {

nlohmann::ordered_json UpdateToJson(const Update& update) {
    using nlohmann::ordered_json;

    ordered_json portions = ordered_json::array();
    for (const Update::SysExPortion& portion : update.sysExPortions) {
        const SysExContent content = InspectSysEx(portion.sysEx.data(), portion.sysEx.size());
        portions.push_back({{"bytes", portion.sysEx.size()},
                            {"delay", portion.delay},
                            {"messages", content.messages},
                            {"strayBytes", content.strayBytes}});
    }

    const MidiPortWindowsParameters& windows = update.windowsParameters;
    ordered_json json;
    json["productName"] = update.productName;
    json["version"] = update.version.ToString();
    json["message"] = update.message;
    json["headerValues"] = {update.headerValue1, update.headerValue2, update.headerValue3};
    json["imageBytes"] = update.image.size();
    json["portions"] = std::move(portions);
    json["totalSysExSize"] = update.TotalSysExSize();
    json["macPortNames"] = update.macPortNames;
    json["windows"] = {{"names", windows.names},
                       {"ideal", windows.ideal},
                       {"max", windows.max},
                       {"delay", windows.delay},
                       {"unprepDelay", windows.unprepDelay},
                       {"chunks", windows.chunks}};
    return json;
}

std::string DumpJson(const nlohmann::ordered_json& json) {
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace midiupdate
