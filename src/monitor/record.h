// The stored form of a monitoring configuration, owned here and nowhere else:
// seven field texts, each followed by ";", with every ";" inside a field
// written "[trdoppu]". The monitors, the configuration dialogs, the kept
// positions and the fuzz targets all read and write it through this file.
#pragma once

#include <cstdint>
#include <string>

namespace modMain {

inline const std::string RecordSeparator = ";";
inline const std::string EscapeToken = "[trdoppu]";

// The kinds of text in t_description.
enum DescriptionType : int32_t {
    MessageTextType = 17,  // the message texts of events
    EventTypeType = 18,    // the names of event types
    EventLevelType = 19,   // the names of event levels
};

// Field index (from 1) of value, with every "[trdoppu]" turned back into ";".
// Positions are not limited to 16 bits.
std::string ParseValue(const std::string& value, int32_t index, const std::string& separator);
// Every ";" written as "[trdoppu]".
std::string EscapeValue(const std::string& text);

// One record as its seven field texts, unescaped. Numbers are kept as text
// (empty: any); flags as the texts the record holds ("0", "1", "2" for a
// greyed box, or whatever was stored), so that a record read and written back
// stays as it was.
struct Record {
    std::string computerNr;    // field 1: computernr, or empty for any computer
    std::string eventTypeNr;   // field 2: descriptionnr of the type, or empty
    std::string eventLevelNr;  // field 3: descriptionnr of the level, or empty
    std::string showMsgBox;    // field 4: "1" on
    std::string writeEventLog; // field 5: "1" on
    std::string executeBatch;  // field 6: "1" on
    std::string batchFile;     // field 7: the path, with ";" as it is

    // Missing fields read as empty, surplus fields are ignored.
    static Record Parse(const std::string& stored);
    // Every field escaped and followed by ";".
    std::string Text() const;

    bool operator==(const Record&) const = default;
};

}  // namespace modMain
