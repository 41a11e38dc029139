// The field splitter of the records and of the event parameters.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "monitor/record.h"
#include "platform/text.h"

namespace {

std::string Unescape(const std::string& text) {
    return telwick::ReplaceAll(text, modMain::EscapeToken, modMain::RecordSeparator);
}

// Field n (from 1) of value split at every separator character, unescaped.
std::string Field(const std::string& value, int32_t n, char separator) {
    if (n <= 0) return {};
    size_t start = 0;
    for (int32_t i = 1; i < n; ++i) {
        size_t next = value.find(separator, start);
        if (next == std::string::npos) return {};
        start = next + 1;
    }
    size_t end = value.find(separator, start);
    if (end == std::string::npos) end = value.size();
    return Unescape(value.substr(start, end - start));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int32_t index = static_cast<int32_t>(data[0]) - 8;
    char separator = data[1] % 4 == 0 ? static_cast<char>(data[1]) : ';';
    std::string value = fuzz::Text(data + 2, size - 2);

    // Any field of any text: the split of the text at the separator.
    std::string got;
    fuzz::FaultOf([&] { got = modMain::ParseValue(value, index, std::string(1, separator)); });
    fuzz::Expect(got == Field(value, index, separator), "ParseValue differs from the split of the text");

    // A record written field by field with EscapeValue reads back field by
    // field ("|" cuts the input into the fields), the token itself excepted.
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        size_t bar = value.find('|', start);
        fields.push_back(value.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    std::string record;
    for (const auto& field : fields) record += modMain::EscapeValue(field) + ";";
    for (size_t i = 0; i < fields.size(); ++i) {
        std::string back = modMain::ParseValue(record, static_cast<int32_t>(i + 1), ";");
        fuzz::Expect(back == Unescape(fields[i]), "a field did not survive EscapeValue and ParseValue");
    }
    fuzz::Expect(modMain::ParseValue(record, static_cast<int32_t>(fields.size() + 1), ";").empty(),
                 "a field beyond the record's end is not empty");
    return 0;
}
