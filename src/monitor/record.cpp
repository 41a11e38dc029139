// The stored form of a monitoring configuration: the field splitter, the
// escaping and the seven fields.
#include "monitor/record.h"

#include "platform/text.h"

namespace modMain {

std::string ParseValue(const std::string& value, int32_t index, const std::string& separator) {
    // Positions count from 1 as in the stored form's description: a field runs
    // from start up to, not including, end. They are plain sizes, so a long
    // parameter list splits like a short one.
    size_t start = 1;
    size_t end = 0;
    for (int32_t count = 1; count <= index; ++count) {
        size_t found = value.find(separator, start - 1);
        if (found == std::string::npos) {
            if (count < index) return {};  // fewer fields than asked for
            end = value.size() + 1;
        } else {
            end = found + 1;
            if (count < index) start = end + 1;
        }
    }
    if (!(start < end && start > 0 && end > 0)) return {};
    std::string field = value.substr(start - 1, end - start);
    if (field.find(EscapeToken) != std::string::npos)
        field = telwick::ReplaceAll(field, EscapeToken, RecordSeparator);
    return field;
}

std::string EscapeValue(const std::string& text) { return telwick::ReplaceAll(text, RecordSeparator, EscapeToken); }

Record Record::Parse(const std::string& stored) {
    auto field = [&stored](int32_t index) { return ParseValue(stored, index, RecordSeparator); };
    return Record{field(1), field(2), field(3), field(4), field(5), field(6), field(7)};
}

std::string Record::Text() const {
    std::string text;
    for (const std::string* field :
         {&computerNr, &eventTypeNr, &eventLevelNr, &showMsgBox, &writeEventLog, &executeBatch, &batchFile}) {
        text += EscapeValue(*field);
        text += RecordSeparator;
    }
    return text;
}

}  // namespace modMain
